#include <fstream>

#include "TestMachine.h"
#include "Util/CommonCfgMgr.h"

namespace {

class CommonCfgMgrTest : public kvatest::CTestMachine {
protected:
    void Write(const std::string& xml) {
        const auto path = CCommonCfgMgr::FilePath();
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << xml;
        // Make sure the change is seen even within the file system's time-stamp resolution.
        static int bump = 0;
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() +
                                                   std::chrono::seconds(++bump));
    }
};

TEST_F(CommonCfgMgrTest, DefaultsWithoutAFileThenValuesAndLaterEdits) {
    auto& cfg = CCommonCfgMgr::getInstance();
    std::filesystem::remove(CCommonCfgMgr::FilePath());
    EXPECT_TRUE(cfg.isEnableUpdate());
    EXPECT_EQ(cfg.getInitTime(), 5);
    EXPECT_EQ(cfg.getQueryLocalPeriod(), 240);
    EXPECT_EQ(cfg.getBatteryPrecent(), 0);
    EXPECT_FALSE(cfg.IsSupportIdleUpdate("Audio"));
    EXPECT_EQ(cfg.GetUpdateServiceUrl(), "");

    Write(R"(<commoncfg><UpdateService url="http://127.0.0.1:9/" publicKey="QUJD"/>
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

    Write(R"(<commoncfg><Update enable="1"/></commoncfg>)");
    EXPECT_TRUE(cfg.isEnableUpdate());
    EXPECT_EQ(cfg.getBatteryPrecent(), 0) << "an attribute removed falls back to its default";
    EXPECT_FALSE(cfg.IsSupportIdleUpdate("Touchpad"));
}

TEST_F(CommonCfgMgrTest, BrokenFileGivesDefaultsAndDoesNotThrow) {
    Write("<commoncfg><Update enable=\"0\"");
    auto& cfg = CCommonCfgMgr::getInstance();
    EXPECT_TRUE(cfg.isEnableUpdate());
    EXPECT_EQ(cfg.getQueryLocalPeriod(), 240);
}

}  // namespace
