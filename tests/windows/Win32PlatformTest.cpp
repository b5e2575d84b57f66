// What only the Windows backend does: real windows, real processes, COM, the real registry's boot.
#include <cstdlib>
#include <fstream>

#include "TestMachine.h"
#include "kva/platform/AcpiWmi.h"
#include "kva/platform/Database.h"
#include "kva/platform/DeviceIo.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Display.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Module.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Power.h"
#include "kva/platform/Process.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"
#include "kva/platform/Wmi.h"

namespace {

using namespace plat;

class Win32PlatformTest : public kvatest::CTestMachine {
protected:
    std::wstring ExeName() const {
        const std::wstring exe = HostExecutablePath();
        return exe.substr(exe.find_last_of(L"\\/") + 1);
    }
};

TEST_F(Win32PlatformTest, OurWindowsAreRealTopLevelWindowsFoundByClassPointAndProperty) {
    const HWND tip = CreateTopWindow({0, L"UpdateTipsUI", L"Tips", true, {40, 40, 240, 140}, 0});
    ASSERT_NE(tip, 0u) << GetLastError();
    EXPECT_EQ(FindTopWindow(L"updatetipsui"), tip);
    EXPECT_EQ(FindTopWindow(L"UpdateTipsUI", L"Tips"), tip);
    EXPECT_EQ(FindTopWindow(L"UpdateTipsUI", L"Other"), 0u);
    const auto info = GetWindowInfo(tip);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->className, L"UpdateTipsUI");
    EXPECT_EQ(info->title, L"Tips");
    EXPECT_EQ(info->rect.right - info->rect.left, 200);
    EXPECT_EQ(info->processId, CurrentProcessId());
    EXPECT_TRUE(IsWindowShown(tip));

    EXPECT_EQ(WindowAtPoint(100, 100), tip);
    ASSERT_TRUE(ShowTopWindow(tip, false));
    EXPECT_NE(WindowAtPoint(100, 100), tip) << "a hidden window is under no point";
    EXPECT_TRUE(SetWindowTitle(tip, L"\u4e2d\u6587"));
    EXPECT_EQ(GetWindowInfo(tip)->title, L"\u4e2d\u6587");

    // A stored 0 is not an absent property.
    EXPECT_FALSE(GetWindowProperty(tip, "TipsWndMutex").has_value());
    EXPECT_TRUE(SetWindowProperty(tip, "TipsWndMutex", 0));
    EXPECT_EQ(GetWindowProperty(tip, "TipsWndMutex"), 0);
    EXPECT_TRUE(SetWindowProperty(tip, "TipsWndMutex", 1234567));
    EXPECT_EQ(GetWindowProperty(tip, "TipsWndMutex"), 1234567);

    bool listed = false;
    for (const auto& w : ListWindows()) listed = listed || w.hwnd == tip;
    EXPECT_TRUE(listed);
    EXPECT_TRUE(DestroyTopWindow(tip));
    EXPECT_FALSE(IsWindowAlive(tip));
    EXPECT_FALSE(DestroyTopWindow(DesktopWindow())) << "only our own windows are destroyed";
    EXPECT_EQ(CreateTopWindow({0, L"X", L"", true, {0, 0, 1, 1}, CurrentProcessId() + 1}), 0u)
        << "a window cannot be made for another process";
}

TEST_F(Win32PlatformTest, ProcessesAreTheMachinesOwnAndChildrenRunToTheirEnd) {
    bool self = false;
    for (const auto& p : ListProcesses()) self = self || (p.pid == CurrentProcessId() && p.name == ExeName());
    EXPECT_TRUE(self);
    std::wstring upper = ExeName();
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_TRUE(ProcessExists(upper));
    EXPECT_FALSE(ProcessExists(L"no-such-program.exe"));
    EXPECT_EQ(AddProcess(L"Pilotdeck.exe"), 0u);

    std::string out;
    // cmd.exe takes the rest of its line as it is: one argument with spaces, quoted once.
    EXPECT_EQ(RunProcess("cmd.exe", {"/c", "echo one& echo two  spaced"}, &out), 0);
    EXPECT_EQ(out, "one\ntwo  spaced\n");
    EXPECT_EQ(RunProcess("cmd.exe", {"/c", "exit 3"}, nullptr), 3);
    EXPECT_EQ(RunProcess("C:\\no\\such.exe", {}, nullptr), -1);
}

// Arguments reach the child as they were given: a trailing backslash or an inner quote must not
// swallow the argument after it (which here narrows the child's list of tests; the child only
// lists, whatever reaches it).
TEST_F(Win32PlatformTest, ArgumentsWithSpacesQuotesAndBackslashesArriveWhole) {
    for (const char* awkward : {"dir with space\\", "say \"hi\" twice", "ends\\\\\" x", ""}) {
        std::string out;
        ASSERT_EQ(RunProcess(HostExecutablePath(),
                             {"--gtest_list_tests", awkward, "--gtest_filter=Win32RebootTest.*"}, &out),
                  0);
        EXPECT_NE(out.find("Win32RebootTest."), std::string::npos) << awkward;
        EXPECT_EQ(out.find("Win32PlatformTest."), std::string::npos) << awkward << "\n" << out;
    }
}

TEST_F(Win32PlatformTest, ModulesLoadByWindowsPathAndKeepTheApisErrorCodes) {
    EXPECT_EQ(LoadModule(L"C:\\nowhere\\DriverCurVersion.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(kErrorModNotFound));
    const std::wstring exe = HostExecutablePath();
    const std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/"));
    HMODULE platform = LoadModule(folder + L"/libkvaplatform.dll");
    ASSERT_NE(platform, nullptr) << GetLastError();
    EXPECT_NE(GetModuleExport(platform, "_ZN4plat12BootIdEv") == nullptr &&
                  GetModuleExport(platform, "_ZN4plat6BootIdB5cxx11Ev") == nullptr,
              true)
        << "the port's functions are exported";
    EXPECT_EQ(GetModuleExport(platform, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(kErrorProcNotFound));
    EXPECT_TRUE(FreeModule(platform));
}

TEST_F(Win32PlatformTest, WindowsPathsAreHostPathsThatCannotClimbAboveTheDrive) {
    EXPECT_EQ(ToHostPath("C:/ProgramData\\Vantor/../Vantor\\x.xml").wstring(), L"C:\\ProgramData\\Vantor\\x.xml");
    EXPECT_EQ(ToHostPath("C:\\..\\..\\Windows\\win.ini").wstring(), L"C:\\Windows\\win.ini");
    EXPECT_EQ(ToHostPath(L"\\\\?\\D:\\a\\b").wstring(), L"D:\\a\\b");
    EXPECT_EQ(ToWindowsPath(ToHostPath("C:\\a b\\c")), "C:\\a b\\c");
    EXPECT_EQ(ProgramDataFolder().substr(1, 2), ":\\");

    const auto folder = State() / "private";
    EXPECT_TRUE(MakePrivateFolder(folder));
    EXPECT_TRUE(MakePrivateFolder(folder)) << "an existing folder of ours is fine";
    std::ofstream(State() / "afile") << "x";
    EXPECT_FALSE(MakePrivateFolder(State() / "afile"));
}

TEST_F(Win32PlatformTest, OverridesLiveInTheStateFolderAndWinOverRealFacts) {
    PowerStatus real;
    ASSERT_TRUE(GetPowerStatus(&real));
    std::uint64_t freeBytes = 0, total = 0;
    ASSERT_TRUE(GetDiskFreeSpace("C:\\DriverUpgrade\\not\\yet\\made", &freeBytes, &total));
    EXPECT_GT(total, 0u);

    ASSERT_TRUE(SetOverride("battery", "20"));
    ASSERT_TRUE(SetOverride("disk-free", "1024"));
    PowerStatus ps;
    ASSERT_TRUE(GetPowerStatus(&ps));
    EXPECT_EQ(ps.BatteryLifePercent, 20);
    ASSERT_TRUE(GetDiskFreeSpace("C:\\", &freeBytes));
    EXPECT_EQ(freeBytes, 1024u);
    EXPECT_EQ(ListOverrides().size(), 2u);
    ASSERT_TRUE(ClearOverride("disk-free"));
    EXPECT_FALSE(GetOverride("disk-free").has_value());
    ASSERT_TRUE(SetOverride("product", ""));
    EXPECT_EQ(GetOverride("product"), "") << "an empty value is still a value";

    // Another machine (state folder) has its own facts.
    ASSERT_TRUE(OpenMachine(State() / "other"));
    EXPECT_FALSE(GetOverride("battery").has_value());
    ASSERT_TRUE(OpenMachine(State()));
    EXPECT_EQ(GetOverride("battery"), "20");
}

TEST_F(Win32PlatformTest, WmiAnswersOverComInTheCallersSpellingAndRefusesWhatItDoesNotKnow) {
    const auto rows = WmiQuery("ROOT\\CIMV2", "SELECT Name, processid FROM Win32_Process");
    ASSERT_TRUE(rows.has_value());
    bool self = false;
    for (const auto& r : *rows) {
        auto pid = r.find("processid");
        self = self || (pid != r.end() && pid->second == std::to_string(CurrentProcessId()));
    }
    EXPECT_TRUE(self);
    // Windows refuses an unknown class; Wine answers it with no rows. Neither invents any.
    const auto unknown = WmiQuery("ROOT\\CIMV2", "SELECT * FROM No_Such_Class");
    EXPECT_TRUE(!unknown || unknown->empty());
    EXPECT_FALSE(WmiQuery("ROOT\\NoSuchNamespace", "SELECT * FROM Win32_Process").has_value());
}

TEST_F(Win32PlatformTest, TheBootIdIsOnePerBootAndARebootIsNotFaked) {
    const std::string boot = BootId();
    EXPECT_NE(boot, "unknown-boot");
    EXPECT_EQ(BootId(), boot);
    SimulateReboot();
    EXPECT_EQ(BootId(), boot);
    EXPECT_FALSE(CurrentUserSid().empty());
    EXPECT_EQ(CurrentUserSid().rfind(L"S-1-5-", 0), 0u);
}

// Volatile keys across a real restart of the machine: `make check-windows` runs phase 1, restarts
// Wine (which drops volatile keys exactly as a reboot does) and runs phase 2.
TEST(Win32RebootTest, VolatileKeysDoNotSurviveARestart) {
    const char* phase = std::getenv("KVA_REBOOT_PHASE");
    if (!phase) GTEST_SKIP() << "runs only around a restart of the machine";
    const std::wstring path = L"SOFTWARE\\VantorRebootTest";
    HKEY key = 0;
    if (std::string(phase) == "1") {
        RegDeleteTree(kHKeyLocalMachine, path);
        ASSERT_EQ(RegCreateKey(kHKeyLocalMachine, path, 0, kKeyAllAccess, &key), kErrorSuccess);
        ASSERT_EQ(RegSetDword(key, L"kept", 42), kErrorSuccess);
        RegCloseKey(key);
        ASSERT_EQ(RegCreateKey(kHKeyLocalMachine, path + L"\\Volatile", kRegOptionVolatile, kKeyAllAccess, &key),
                  kErrorSuccess);
        ASSERT_EQ(RegSetString(key, L"Version", L"0.1"), kErrorSuccess);
        RegCloseKey(key);
        ASSERT_EQ(RegCreateKey(kHKeyLocalMachine, path + L"\\Kept", 0, kKeyAllAccess, &key), kErrorSuccess);
        ASSERT_EQ(RegSetString(key, L"Version", L"2.0"), kErrorSuccess);
        RegCloseKey(key);
        std::ofstream("kva-reboot-test-boot.txt") << BootId();
        return;
    }
    std::ifstream in("kva-reboot-test-boot.txt");
    std::string before;
    std::getline(in, before);
    EXPECT_NE(BootId(), before);
    EXPECT_EQ(RegOpenKey(kHKeyLocalMachine, path + L"\\Volatile", kKeyRead, &key), kErrorFileNotFound);
    ASSERT_EQ(RegOpenKey(kHKeyLocalMachine, path, kKeyRead, &key), kErrorSuccess);
    DWORD kept = 0;
    EXPECT_EQ(RegGetDword(key, L"kept", &kept), kErrorSuccess);
    EXPECT_EQ(kept, 42u) << "a non-volatile key keeps its values";
    RegCloseKey(key);
    std::wstring version;
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, path + L"\\Volatile", L"Version", &version), kErrorFileNotFound);
    std::map<std::string, std::wstring> below;
    ASSERT_EQ(RegGetStringsBelow(kHKeyLocalMachine, path, L"Version", &below), kErrorSuccess);
    EXPECT_EQ(below, (std::map<std::string, std::wstring>{{"kept", L"2.0"}})) << "one-call reads agree";
    RegDeleteTree(kHKeyLocalMachine, path);
}

}  // namespace

namespace {

using namespace plat;

TEST(Win32DeviceTest, MissingDevicesAndBadHandlesFailWithTheApisErrors) {
    const HDEVICE none = CreateDeviceFile(L"\\\\.\\NoSuchKvaDevice", kGenericRead | kGenericWrite, 0, kOpenExisting,
                                          kFileAttributeNormal);
    EXPECT_EQ(none, kInvalidDevice);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(kErrorFileNotFound));
    DWORD returned = 7;
    EXPECT_FALSE(DeviceIoControl(kInvalidDevice, CtlCode(0x22, 0x800, kMethodBuffered, kFileReadAccess), nullptr, 0,
                                 nullptr, 0, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(kErrorInvalidHandle));
    EXPECT_FALSE(CloseDevice(kInvalidDevice));

    // A device that exists everywhere, refusing a control code it does not know.
    const HDEVICE nul = CreateDeviceFile(L"\\\\.\\NUL", kGenericRead, 0, kOpenExisting, kFileAttributeNormal);
    ASSERT_NE(nul, kInvalidDevice);
    EXPECT_FALSE(DeviceIoControl(nul, CtlCode(0x22, 0x801, kMethodBuffered, kFileReadAccess), "x", 1, nullptr, 0,
                                 &returned));
    EXPECT_TRUE(CloseDevice(nul));
}

TEST(Win32AcpiWmiTest, MethodInputsAreMadeFromTheClassAndCheckedByName) {
    const HRESULT init = CoInitializeEx(kCoinitMultithreaded);
    ASSERT_FALSE(Failed(init));
    CoInitializeSecurity();
    HWMILOCATOR locator = 0;
    ASSERT_EQ(WmiCreateLocator(&locator), kSOk);
    HWMISERVICES services = 0;
    EXPECT_TRUE(Failed(WmiConnectServer(locator, L"ROOT\\NoSuchNamespace", &services)));
    ASSERT_EQ(WmiConnectServer(locator, L"ROOT\\CIMV2", &services), kSOk);
    EXPECT_FALSE(Failed(WmiSetProxyBlanket(services)));
    HWMIOBJECT cls = 0, in = 0, instance = 0;
    ASSERT_EQ(WmiGetObject(services, L"Win32_Process", &cls), kSOk);
    ASSERT_EQ(WmiGetMethod(cls, L"Create", &in), kSOk);
    ASSERT_EQ(WmiSpawnInstance(in, &instance), kSOk);
    EXPECT_EQ(WmiPut(instance, L"CommandLine", std::wstring(L"cmd.exe /c exit")), kSOk);
    WmiValue back;
    ASSERT_EQ(WmiGet(instance, L"CommandLine", &back), kSOk);
    EXPECT_EQ(std::get<std::wstring>(back), L"cmd.exe /c exit");
    EXPECT_TRUE(Failed(WmiPut(instance, L"NoSuchProperty", std::wstring(L"x"))));
    for (auto h : {instance, in, cls, services, locator}) WmiRelease(h);
    if (init == kSOk || init == kSFalse) CoUninitialize();
}

class Win32DisplayTest : public kvatest::CTestMachine {};

TEST_F(Win32DisplayTest, TheDpiIsTheSystemsUnlessAPlausibleFactSaysOtherwise) {
    const DWORD real = GetSystemDpi();
    EXPECT_GE(real, 48u);
    ASSERT_TRUE(SetOverride("dpi", "144"));
    EXPECT_EQ(GetSystemDpi(), 144u);
    ASSERT_TRUE(SetOverride("dpi", "5000"));
    EXPECT_EQ(GetSystemDpi(), real);
}

// The reader behind a pipe (which cannot be waited on) and behind a file: every byte arrives, in
// order, then the end.
TEST_F(Win32PlatformTest, StandardInputIsReadFromPipesAndFilesToItsEnd) {
    const std::wstring exe = HostExecutablePath();
    const std::string echo = ToUtf8(exe.substr(0, exe.find_last_of(L"\\/") + 1)) + "stdin_echo.exe";
    // cmd.exe reads its command line its own way: a path with spaces would need quotes that the
    // C runtime's escaping of arguments turns into something else.
    if (echo.find(' ') != std::string::npos) GTEST_SKIP() << "the build folder's path has a space";
    std::string out;
    ASSERT_EQ(RunProcess("cmd.exe", {"/c", "echo first line| " + echo}, &out), 0) << out;
    std::string bytes;
    std::size_t pos = 0;
    while ((pos = out.find("bytes:", pos)) != std::string::npos) {
        const std::size_t end = out.find('\n', pos);
        bytes += out.substr(pos + 6, end - pos - 6);
        pos = end;
    }
    EXPECT_NE(bytes.find("first line"), std::string::npos) << out;
    EXPECT_NE(out.find("end"), std::string::npos) << out;
    EXPECT_EQ(out.find("error"), std::string::npos) << out;

    const auto input = State() / "input.txt";
    std::ofstream(input) << "from a file";
    ASSERT_EQ(RunProcess("cmd.exe", {"/c", echo + " < " + ToWindowsPath(input)}, &out), 0) << out;
    EXPECT_NE(out.find("bytes:from a file"), std::string::npos) << out;
    EXPECT_NE(out.find("end"), std::string::npos) << out;
}

// SQLite is the host's. Without it (Wine has none) a database does not open, with a reason that
// names what is missing, and nothing crashes; with it, the schema runs in the state folder.
TEST_F(Win32PlatformTest, DatabasesOpenWithTheHostsSqliteOrSayWhatIsMissing) {
    std::string error;
    sqlite3* db = OpenDatabase(State() / "db" / "test.db", "CREATE TABLE t(x INTEGER);", &error);
    if (!db) {
        EXPECT_NE(error.find("sqlite3.dll"), std::string::npos) << error;
        CStateDatabase state("state.db", "");
        std::string again;
        EXPECT_EQ(state.Get(&again), nullptr);
        EXPECT_EQ(again, error);
        return;
    }
    // The connection stays open to the end of the process: closing it is the caller's sqlite3 call.
    EXPECT_TRUE(std::filesystem::exists(State() / "db" / "test.db"));
    EXPECT_EQ(OpenDatabase(State() / "bad.db", "NOT SQL;", &error), nullptr);
    EXPECT_FALSE(error.empty());
}

}  // namespace
