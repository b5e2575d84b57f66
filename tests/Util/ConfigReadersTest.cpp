#include "TestMachine.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DriverInfoListMgr.h"
#include "Util/KVASoftShelf.h"
#include "Util/ProductAdapt.h"
#include "Util/SMBIOSHelper.h"
#include "kva/platform/Machine.h"

namespace {

class ConfigReadersTest : public kvatest::CTestMachine {};
using kvatest::WriteChangedFile;

TEST_F(ConfigReadersTest, CommonConfigDefaultsWithoutAFileThenValuesLaterEditsAndABrokenFile) {
    auto& cfg = CCommonCfgMgr::getInstance();
    std::filesystem::remove(CCommonCfgMgr::FilePath());
    EXPECT_TRUE(cfg.isEnableUpdate());
    EXPECT_EQ(cfg.getInitTime(), 5);
    EXPECT_EQ(cfg.getQueryLocalPeriod(), 240);
    EXPECT_EQ(cfg.getBatteryPrecent(), 0);
    EXPECT_FALSE(cfg.IsSupportIdleUpdate("Audio"));
    EXPECT_EQ(cfg.GetUpdateServiceUrl(), "");

    WriteChangedFile(CCommonCfgMgr::FilePath(), R"(<commoncfg><UpdateService url="http://127.0.0.1:9/" publicKey="QUJD"/>
             <Update enable="0" initTime="30" queryPeriod="60" forceUpdate="0" batteryPercent="40">
               <IdleUpdate name="Audio"/><IdleUpdate name="Touchpad"/></Update></commoncfg>)");
    EXPECT_FALSE(cfg.isEnableUpdate());
    EXPECT_EQ(cfg.getInitTime(), 30);
    EXPECT_EQ(cfg.getQueryLocalPeriod(), 60);
    EXPECT_FALSE(cfg.EnableForceUpdate());
    EXPECT_EQ(cfg.getBatteryPrecent(), 40);
    EXPECT_TRUE(cfg.IsSupportIdleUpdate("Touchpad"));
    EXPECT_FALSE(cfg.IsSupportIdleUpdate("touchpad"));
    EXPECT_EQ(cfg.GetUpdateServiceUrl(), "http://127.0.0.1:9/");
    EXPECT_EQ(cfg.GetMakerPublicKey(), "QUJD");

    WriteChangedFile(CCommonCfgMgr::FilePath(), R"(<commoncfg><Update enable="1"/></commoncfg>)");
    EXPECT_TRUE(cfg.isEnableUpdate());
    EXPECT_EQ(cfg.getBatteryPrecent(), 0) << "an attribute removed falls back to its default";
    EXPECT_FALSE(cfg.IsSupportIdleUpdate("Touchpad"));

    WriteChangedFile(CCommonCfgMgr::FilePath(), R"(<commoncfg><Update enable="0" queryPeriod="60")");
    EXPECT_TRUE(cfg.isEnableUpdate()) << "a broken file gives the defaults";
    EXPECT_EQ(cfg.getQueryLocalPeriod(), 240);
}

TEST_F(ConfigReadersTest, EditionIsTheConsumerOneUntilTheFileSaysOtherwise) {
    auto* shelf = CKVASoftShelf::GetInstance();
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 1);
    EXPECT_EQ(shelf->IsSupportPlugin("Other"), 0);
    EXPECT_FALSE(CKVASoftShelf::IsITVersion());
    EXPECT_FALSE(shelf->IsBetaVersion());
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "china"), 0);

    WriteChangedFile(CKVASoftShelf::FilePath(), R"(<softshelf it="1" beta="1" whiteLogo="1">
        <property name="VTLoginGuide" value="china"/><property name="VTLoginGuide" value="intl"/></softshelf>)");
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 0) << "a file lists every plug-in it ships";
    EXPECT_TRUE(CKVASoftShelf::IsITVersion());
    EXPECT_TRUE(shelf->IsBetaVersion());
    EXPECT_TRUE(shelf->IsWhiteLogoMachineType());
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "china"), 1);
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "intl"), 1);
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "usa"), 0);

    WriteChangedFile(CKVASoftShelf::FilePath(), R"(<softshelf><plugin name="MsgPop"/></softshelf>)");
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 1);
    EXPECT_FALSE(CKVASoftShelf::IsITVersion()) << "an edit is seen by the running process";

    WriteChangedFile(CKVASoftShelf::FilePath(), R"(<softshelf it="1")");
    EXPECT_FALSE(CKVASoftShelf::IsITVersion()) << "a broken file gives the defaults";
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 1);
}

TEST_F(ConfigReadersTest, DriverListGivesNamesKindsAndDependenciesPerCode) {
    auto& mgr = CDriverInfoListMgr::getInstance();
    EXPECT_EQ(mgr.getAppName("14"), L"");
    EXPECT_EQ(mgr.getDrvType("14"), CDriverInfoListMgr::kTypeDriver);
    EXPECT_TRUE(mgr.getDrvDepend("14").empty());

    WriteChangedFile(CDriverInfoListMgr::FilePath(), R"(<DriverCfg>
        <Driver id="14" appName="Onboard Audio"><Depend id="1"/><Depend id="3"/><Depend/></Driver>
        <Driver id="45" appName="PD 控制器" type="2"/>
        <Driver appName="no id"/></DriverCfg>)");
    EXPECT_EQ(mgr.getAppName("14"), L"Onboard Audio");
    EXPECT_EQ(mgr.getAppName("45"), L"PD 控制器");
    EXPECT_EQ(mgr.getDrvType("45"), CDriverInfoListMgr::kTypeFirmware);
    EXPECT_EQ(mgr.getDrvType("14"), CDriverInfoListMgr::kTypeDriver);
    EXPECT_EQ(mgr.getDrvDepend("14"), (std::vector<std::string>{"1", "3"})) << "in order, blanks dropped";
    EXPECT_EQ(mgr.getAppName(""), L"");
}

TEST_F(ConfigReadersTest, SupportedModelsMatchTheProductNameWholeOrByPrefix) {
    auto* smbios = SMBIOSHelper::GetInstance();
    plat::SetOverride("product", "Vantor Book 14 Gen 2");
    EXPECT_TRUE(smbios->IsSupportDevice()) << "no list restricts nothing";

    WriteChangedFile(CDriverInfoListMgr::FilePath(), R"(<DriverCfg><SupportDevices>
        <Device product="vantor book 14 gen 2"/><Device product="Vantor Slate *"/></SupportDevices></DriverCfg>)");
    EXPECT_TRUE(smbios->IsSupportDevice()) << "any case";
    plat::SetOverride("product", "Vantor Book 14");
    EXPECT_FALSE(smbios->IsSupportDevice()) << "a whole name is no prefix";
    plat::SetOverride("product", "Vantor Slate X1");
    EXPECT_TRUE(smbios->IsSupportDevice());
    plat::SetOverride("product", "");
    EXPECT_FALSE(smbios->IsSupportDevice());
    std::wstring name = L"stale";
    EXPECT_EQ(ProductAdapt::MachineType::GetInstance()->GetProductName(name), ProductAdapt::MachineType::kNoProductName);
    EXPECT_EQ(name, L"");

    WriteChangedFile(CDriverInfoListMgr::FilePath(), R"(<DriverCfg><SupportDevices/></DriverCfg>)");
    plat::SetOverride("product", "Vantor Slate X1");
    EXPECT_FALSE(smbios->IsSupportDevice()) << "an empty list supports nothing";
}

}  // namespace
