#include <fstream>

#include "TestMachine.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Module.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Power.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"

namespace {

using namespace plat;

class MachineTest : public kvatest::CTestMachine {
protected:
    // Runs `kva --state <state> args...` and returns its exit code and output.
    int Kva(const std::string& args, std::string* out = nullptr) { return kvatest::RunKva(State(), args, out); }
};

TEST_F(MachineTest, TwoProcessesShareOneMachine) {
    ASSERT_EQ(Kva("machine set battery 20"), 0);
    ASSERT_EQ(Kva("machine set ac 0"), 0);
    ASSERT_EQ(Kva("machine set process-add Pilotdeck.exe"), 0);
    PowerStatus ps;
    ASSERT_TRUE(GetPowerStatus(&ps));
    EXPECT_EQ(ps.BatteryLifePercent, 20);
    EXPECT_EQ(ps.ACLineStatus, 0);
    EXPECT_TRUE(ProcessExists(L"pilotdeck.EXE"));

    // And the other way round: what this process writes, the other one reads.
    HKEY key = 0;
    ASSERT_EQ(RegCreateKey(kHKeyUsers, CurrentUserSid() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting", 0, kKeyAllAccess, &key),
              kErrorSuccess);
    RegSetDword(key, L"autoupdate", 1);
    RegCloseKey(key);
    CreateTopWindow({0, L"SelfUpgradeWnd", L"", true, {0, 0, 10, 10}, 0});
    std::string shown;
    ASSERT_EQ(Kva("machine show", &shown), 0);
    EXPECT_NE(shown.find("autoupdate = dword:1"), std::string::npos) << shown;
    EXPECT_NE(shown.find("SelfUpgradeWnd"), std::string::npos);
    EXPECT_NE(shown.find("battery:     20"), std::string::npos);

    const std::string bootBefore = BootId();
    ASSERT_EQ(Kva("machine reboot"), 0);
    EXPECT_NE(BootId(), bootBefore);
}

TEST_F(MachineTest, BadFactsAreRefusedWithoutChangingTheMachine) {
    EXPECT_NE(Kva("machine set battery 300"), 0);
    EXPECT_NE(Kva("machine set battery lots"), 0);
    EXPECT_NE(Kva("machine set disk-free -5"), 0);
    EXPECT_NE(Kva("machine set nonsense 1"), 0);
    EXPECT_FALSE(GetOverride("battery").has_value());
    EXPECT_FALSE(GetOverride("disk-free").has_value());
}

TEST_F(MachineTest, OverridesWinOverRealFactsUntilCleared) {
    std::uint64_t realFree = 0, total = 0;
    ASSERT_TRUE(GetDiskFreeSpace("C:\\DriverUpgrade\\not\\yet\\made", &realFree, &total));
    EXPECT_GT(total, 0u);
    ASSERT_EQ(Kva("machine set disk-free 10G"), 0);
    std::uint64_t free = 0;
    ASSERT_TRUE(GetDiskFreeSpace("C:\\", &free));
    EXPECT_EQ(free, 10ull << 30);
    ASSERT_EQ(Kva("machine set disk-free real"), 0);
    ASSERT_TRUE(GetDiskFreeSpace("C:\\", &free));
    EXPECT_NE(free, 10ull << 30);

    SetOverride("battery", "255");
    PowerStatus ps;
    ASSERT_TRUE(GetPowerStatus(&ps));
    EXPECT_EQ(ps.BatteryLifePercent, 255);
    SetOverride("product", "Vantor Book 14");
    EXPECT_EQ(ProductName(), "Vantor Book 14");
}

TEST_F(MachineTest, WindowsPathsMapIntoTheStateFolder) {
    EXPECT_EQ(ToHostPath("C:\\Program Files (x86)\\Vantor Retail\\Retail.exe"),
              State() / "drive_c" / "Program Files (x86)" / "Vantor Retail" / "Retail.exe");
    EXPECT_EQ(ToHostPath(L"c:\\ProgramData\\Vantor\\DriverUpgrade\\Update\\Downloaded\\23_1.0"),
              State() / "drive_c/ProgramData/Vantor/DriverUpgrade/Update/Downloaded/23_1.0");
    // ".." never climbs out of the drive.
    EXPECT_EQ(ToHostPath("C:\\..\\..\\etc\\passwd"), State() / "drive_c/etc/passwd");
    // A host folder with a Windows file name appended, as the host-folder code builds it.
    EXPECT_EQ(ToHostPath(L"/opt/kva/bin\\plugins\\CheckWinPE.dll"), std::filesystem::path("/opt/kva/bin/plugins/CheckWinPE.dll"));
    EXPECT_EQ(ToWindowsPath(State() / "drive_d" / "x" / "y.xml"), "D:\\x\\y.xml");
    EXPECT_EQ(ToWindowsPath(ToHostPath("C:\\a b\\c")), "C:\\a b\\c");
}

TEST_F(MachineTest, DesktopAnswersTheFullScreenQuestions) {
    const Rect screen = GetWindowInfo(DesktopWindow())->rect;
    // An empty desktop: the shell's window lies under every point.
    EXPECT_EQ(WindowAtPoint(10, 10), ShellWindow());
    EXPECT_EQ(GetWindowProcessId(ShellWindow()), GetWindowProcessId(WindowAtPoint(screen.right - 10, screen.bottom - 10)));

    ASSERT_EQ(Kva("machine set fullscreen on"), 0);
    const HWND game = WindowAtPoint(10, 10);
    EXPECT_NE(game, ShellWindow());
    EXPECT_EQ(WindowAtPoint(screen.right - 10, screen.bottom - 10), game);
    EXPECT_NE(GetWindowProcessId(game), GetWindowProcessId(ShellWindow()));
    EXPECT_TRUE(IsWindowShown(game));

    // A smaller window of ours on top covers one corner only.
    const HWND tip = CreateTopWindow({0, L"UpdateTipsUI", L"", true, {0, 0, 100, 100}, 0});
    EXPECT_EQ(WindowAtPoint(10, 10), tip);
    EXPECT_EQ(GetWindowProcessId(tip), CurrentProcessId());
    EXPECT_EQ(FindTopWindow(L"updatetipsui"), tip);
    ShowTopWindow(tip, false);
    EXPECT_EQ(WindowAtPoint(10, 10), game);
    EXPECT_TRUE(SetWindowProperty(tip, "TipsWndMutex", 1));
    EXPECT_EQ(GetWindowProperty(tip, "TipsWndMutex"), 1);
    EXPECT_TRUE(DestroyTopWindow(tip));
    EXPECT_FALSE(IsWindowAlive(tip));
    EXPECT_FALSE(DestroyTopWindow(DesktopWindow()));

    ASSERT_EQ(Kva("machine set fullscreen off"), 0);
    EXPECT_EQ(WindowAtPoint(10, 10), ShellWindow());
}

TEST_F(MachineTest, ModulesLoadByWindowsStylePathAndReportMissingOnes) {
    SetLastError(0);
    EXPECT_EQ(LoadModule(L"C:\\nowhere\\DriverCurVersion.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(kErrorModNotFound));
    const std::wstring exe = HostExecutablePath();
    ASSERT_FALSE(exe.empty());
    const std::wstring folder = exe.substr(0, exe.rfind(L'/'));
    HMODULE platform = LoadModule(folder + L"\\libkvaplatform.so");
    ASSERT_NE(platform, nullptr);
    EXPECT_EQ(GetModuleExport(platform, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(kErrorProcNotFound));
    EXPECT_TRUE(FreeModule(platform));
}

TEST(TextTest, Utf8AndWideRoundTripAndBadBytesBecomeReplacement) {
    const std::wstring w = L"Pilotdeck \u00e9\u4e2d\U0001F600\uff1a";
    EXPECT_EQ(FromUtf8(ToUtf8(w)), w);
    EXPECT_EQ(FromUtf8("a\xff" "b"), L"a\uFFFDb");
    EXPECT_EQ(FromUtf8("\xe4\xb8"), L"\uFFFD\uFFFD");
    // Past U+10FFFF, a surrogate, an overlong '/': none decodes, so none can change on a round trip.
    for (const char* bad : {"\xf7\x91\x91\x91", "\xed\xa0\x80", "\xc0\xaf"}) {
        const std::wstring w2 = FromUtf8(bad);
        EXPECT_EQ(w2.find_first_not_of(L'\uFFFD'), std::wstring::npos) << bad;
        EXPECT_EQ(FromUtf8(ToUtf8(w2)), w2);
    }
}

TEST(LogTest, QualifiedNamesDropReturnTypesArgumentsAndOurNamespaces) {
    EXPECT_EQ(QualifiedFunctionName("bool CKVAServerQuery::StartServerQuery()"), "CKVAServerQuery::StartServerQuery");
    EXPECT_EQ(QualifiedFunctionName("static std::map<int, std::string> CIPCServer::Get(const std::vector<int>&) const"),
              "CIPCServer::Get");
    EXPECT_EQ(QualifiedFunctionName("void plat::sim::CMachineDb::Open(int)"), "sim::CMachineDb::Open");
    EXPECT_EQ(QualifiedFunctionName("int main(int, char**)"), "main");
}

}  // namespace
