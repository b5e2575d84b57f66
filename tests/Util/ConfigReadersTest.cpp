#include <fstream>

#include "TestMachine.h"
#include "Util/DriverInfoListMgr.h"
#include "Util/KVASoftShelf.h"
#include "Util/ProductAdapt.h"
#include "Util/SMBIOSHelper.h"
#include "kva/platform/Machine.h"

namespace {

class ConfigReadersTest : public kvatest::CTestMachine {
protected:
    static void Write(const std::filesystem::path& path, const std::string& xml) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << xml;
        static int bump = 0;
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() +
                                                   std::chrono::seconds(++bump));
    }
};

TEST_F(ConfigReadersTest, EditionIsTheConsumerOneUntilTheFileSaysOtherwise) {
    auto* shelf = CKVASoftShelf::GetInstance();
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 1);
    EXPECT_EQ(shelf->IsSupportPlugin("Other"), 0);
    EXPECT_FALSE(CKVASoftShelf::IsITVersion());
    EXPECT_FALSE(shelf->IsBetaVersion());
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "china"), 0);

    Write(CKVASoftShelf::FilePath(), R"(<softshelf it="1" beta="1" whiteLogo="1">
        <property name="VTLoginGuide" value="china"/><property name="VTLoginGuide" value="intl"/></softshelf>)");
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 0) << "a file lists every plug-in it ships";
    EXPECT_TRUE(CKVASoftShelf::IsITVersion());
    EXPECT_TRUE(shelf->IsBetaVersion());
    EXPECT_TRUE(shelf->IsWhiteLogoMachineType());
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "china"), 1);
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "intl"), 1);
    EXPECT_EQ(shelf->IsSupportProperty("VTLoginGuide", "usa"), 0);

    Write(CKVASoftShelf::FilePath(), R"(<softshelf><plugin name="MsgPop"/></softshelf>)");
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 1);
    EXPECT_FALSE(CKVASoftShelf::IsITVersion()) << "an edit is seen by the running process";

    Write(CKVASoftShelf::FilePath(), R"(<softshelf it="1")");
    EXPECT_FALSE(CKVASoftShelf::IsITVersion()) << "a broken file gives the defaults";
    EXPECT_EQ(shelf->IsSupportPlugin("MsgPop"), 1);
}

TEST_F(ConfigReadersTest, DriverListGivesNamesKindsAndDependenciesPerCode) {
    auto& mgr = CDriverInfoListMgr::getInstance();
    EXPECT_EQ(mgr.getAppName("14"), L"");
    EXPECT_EQ(mgr.getDrvType("14"), CDriverInfoListMgr::kTypeDriver);
    EXPECT_TRUE(mgr.getDrvDepend("14").empty());

    Write(CDriverInfoListMgr::FilePath(), R"(<DriverCfg>
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

    Write(CDriverInfoListMgr::FilePath(), R"(<DriverCfg><SupportDevices>
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

    Write(CDriverInfoListMgr::FilePath(), R"(<DriverCfg><SupportDevices/></DriverCfg>)");
    plat::SetOverride("product", "Vantor Slate X1");
    EXPECT_FALSE(smbios->IsSupportDevice()) << "an empty list supports nothing";
}

}  // namespace
