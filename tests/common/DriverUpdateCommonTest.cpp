#include <fstream>

#include "KVADownload/Catalogue.h"
#include "ServeKit/CatalogueMaker.h"
#include "TestMachine.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "Util/DriverInfoListMgr.h"
#include "Util/FileInfo.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "kva/platform/DebugOutput.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Registry.h"

namespace {

using kvatest::WriteChangedFile;

std::wstring UserKey(const wchar_t* below) { return VTPROCESS::GetCurrentUserSidstr() + below; }

class CommonTest : public kvatest::CTestMachine {
protected:
    void SetUp() override {
        CTestMachine::SetUp();
        plat::SetOverride("language", "en-US");
        internal::ResetFirstBootProbe();
    }
};

TEST_F(CommonTest, DisplayNamesFollowOverrideTableDefaultAndTemplateRules) {
    WriteChangedFile(CDriverInfoListMgr::FilePath(), R"(<DriverCfg>
        <Driver id="41" appName="Dock Hub" type="1"/>
        <Driver id="42" appName="Dock Hub" type="2"/>
        <Driver id="45" appName="PD Controller" type="2"/></DriverCfg>)");
    EXPECT_EQ(GetDriverDisplayName("14", 1), L"Audio driver");
    EXPECT_EQ(GetDriverDisplayName("11", 1), GetDriverDisplayName("26", 1)) << "two codes share the hotkey name";
    EXPECT_EQ(GetDriverDisplayName("40", 2), L"GPIO driver") << "the kind matters only for templates";
    EXPECT_EQ(GetDriverDisplayName("0", 1), L"");
    EXPECT_EQ(GetDriverDisplayName("abc", 1), L"");
    EXPECT_EQ(GetDriverDisplayName("", 1), L"");
    EXPECT_EQ(GetDriverDisplayName("-3", 1), L"Driver");
    EXPECT_EQ(GetDriverDisplayName("41", 1), L"Dock Hub driver");
    EXPECT_EQ(GetDriverDisplayName("41", 2), L"Dock Hub firmware");
    EXPECT_EQ(GetDriverDisplayName("99999999999999999999", 1), L" driver") << "huge codes take the template";
    EXPECT_EQ(GetDriverDisplayName("45", 2), L"USB-C power delivery firmware")
        << "a text of its own beats the template and the configured name";

    plat::SetOverride("language", "zh-CN");
    EXPECT_EQ(GetDriverDisplayName("14", 1), L"声卡驱动");
    EXPECT_EQ(GetDriverDisplayName("42", 2), L"Dock Hub固件");
}

TEST_F(CommonTest, IconMarkupNamesTheCodesIconOnlyWhenTheDeviceIsKnown) {
    WriteChangedFile(CDriverInfoListMgr::FilePath(), R"(<DriverCfg><Driver id="14" appName="Audio"/></DriverCfg>)");
    EXPECT_NE(GetDriverIconMarkup("14").find(L"\\14.png'"), std::wstring::npos);
    EXPECT_NE(GetDriverIconMarkup("15").find(L"\\ic_drive_defult.png'"), std::wstring::npos) << "unknown device";
    EXPECT_EQ(GetDriverIconMarkup("15").find(L"15.png"), std::wstring::npos);
}

TEST_F(CommonTest, BusyWindowsCountOnlyWhenVisibleAndInTheChosenList) {
    EXPECT_FALSE(IsWndExists(false));
    EXPECT_FALSE(IsWndExists(true));

    const plat::HWND mainWnd = plat::CreateTopWindow({0, L"Pilotdeck", L"", true, {0, 0, 800, 600}, 0});
    EXPECT_FALSE(IsWndExists(false)) << "the main window is only on the long list";
    EXPECT_TRUE(IsWndExists(true));

    const plat::HWND transferWnd = plat::CreateTopWindow({0, L"FileTransferDialog", L"", false, {}, 0});
    EXPECT_FALSE(IsWndExists(false)) << "a hidden window does not count";
    plat::ShowTopWindow(transferWnd, true);
    EXPECT_TRUE(IsWndExists(false));

    plat::DestroyTopWindow(transferWnd);
    plat::ShowTopWindow(mainWnd, false);
    EXPECT_FALSE(IsWndExists(true));
}

TEST_F(CommonTest, FirstBootProbeAnswersEachCallerOnceThenRemembersTheBoot) {
    ASSERT_TRUE(DE::Registry::SetValue(plat::kHKeyUsers, UserKey(kSuiteUserKey), L"x", plat::DWORD{1}));

    EXPECT_TRUE(IsFirstBootComputer(WHICH_CALL_DRIVER_NOTICE));
    EXPECT_TRUE(IsFirstBootComputer(WHICH_CALL_SELF_UPDATE_NOTICE)) << "the second caller hears the same";
    EXPECT_FALSE(IsFirstBootComputer(WHICH_CALL_DRIVER_NOTICE)) << "both asked";
    EXPECT_FALSE(IsFirstBootComputer(WHICH_CALL_SELF_UPDATE_NOTICE));

    internal::ResetFirstBootProbe();  // another process in the same boot
    EXPECT_FALSE(IsFirstBootComputer(WHICH_CALL_SELF_UPDATE_NOTICE));
    EXPECT_FALSE(IsFirstBootComputer(WHICH_CALL_DRIVER_NOTICE)) << "a false cache makes the second caller probe too";

    plat::SimulateReboot();
    internal::ResetFirstBootProbe();
    EXPECT_TRUE(IsFirstBootComputer(WHICH_CALL_SELF_UPDATE_NOTICE)) << "the volatile key went with the boot";
}

TEST_F(CommonTest, FirstBootProbeWithoutTheSuitesKeyIsTrueForEachCallersFirstQuestion) {
    EXPECT_TRUE(IsFirstBootComputer(WHICH_CALL_SELF_UPDATE_NOTICE));
    EXPECT_TRUE(IsFirstBootComputer(WHICH_CALL_DRIVER_NOTICE));
    EXPECT_FALSE(IsFirstBootComputer(WHICH_CALL_DRIVER_NOTICE));
    plat::HKEY k = 0;
    EXPECT_NE(plat::RegOpenKey(plat::kHKeyUsers, UserKey(kSuiteUserKey), plat::kKeyRead, &k), plat::kErrorSuccess)
        << "the probe creates nothing when the suite's key is missing";
}

TEST_F(CommonTest, ShopModelNeedsTheMarkerAndTheMakersSignature) {
    std::string pem, pub;
    ASSERT_TRUE(GenerateMakerKey(&pem, &pub));
    WriteChangedFile(CCommonCfgMgr::FilePath(), "<commoncfg><UpdateService publicKey=\"" + pub + "\"/></commoncfg>");
    const auto marker = plat::ToHostPath(std::wstring(kShopModelMarkerFile));
    EXPECT_FALSE(IsShopModel());
    WriteChangedFile(marker, "retail demo launcher");
    EXPECT_FALSE(IsShopModel()) << "unsigned";
    ASSERT_TRUE(FileInfo::SignFile(kShopModelMarkerFile, pem));
    EXPECT_TRUE(IsShopModel());
    WriteChangedFile(marker, "retail demo launcher!");
    EXPECT_FALSE(IsShopModel()) << "changed after signing";
}

TEST_F(CommonTest, AgreementIsReturnedOnlyForARecentEnoughVersion) {
    const std::wstring key = UserKey(kLoginGuideKey);
    EXPECT_EQ(GetLoginGuideProtocol(), "");
    ASSERT_TRUE(DE::Registry::SetValue(plat::kHKeyUsers, key, L"Protocol", std::wstring(L"1")));
    EXPECT_EQ(GetLoginGuideProtocol(), "0") << "no version";
    // Version 8 or later; text that is not a number is not accepted.
    for (const auto& [version, agreed] : {std::pair{L"10", "1"}, {L"8", "1"}, {L"7", "0"}, {L"9a", "0"}}) {
        DE::Registry::SetValue(plat::kHKeyUsers, key, L"ProtocolVer", std::wstring(version));
        EXPECT_EQ(GetLoginGuideProtocol(), agreed) << version;
    }
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"ProtocolVer", plat::DWORD{9});
    EXPECT_EQ(GetLoginGuideProtocol(), "1") << "a numeric value reads as its decimal text";
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"Protocol", std::wstring(L""));
    EXPECT_EQ(GetLoginGuideProtocol(), "");
}

TEST_F(CommonTest, DeviceTypeIsTheProductNameAndAFailureGoesToTheDebuggerOutput) {
    plat::SetOverride("product", "Vantor Book 14 Gen 2");
    EXPECT_EQ(SystemEnvironment::GetDeviceTypeEx(), "Vantor Book 14 Gen 2");
    EXPECT_FALSE(std::filesystem::exists(plat::DebugOutputFile()));
    plat::SetOverride("product", "");
    EXPECT_EQ(SystemEnvironment::GetDeviceTypeEx(), "");
    std::ifstream in(plat::DebugOutputFile());
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "fail to get product name. result:1(SystemEnvironment::GetDeviceTypeEx)");
}

}  // namespace
