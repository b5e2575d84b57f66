// The application update across processes: `kva suite` is the message centre that shows the
// notice and presses its button as a scenario says, and the installer that runs the downloaded
// setup; this process holds the notice controller.
#include <fstream>

#include "DriverFixture.h"
#include "IPCMessage/IPCEndpoint.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/UpdateService.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "Util/DE.h"
#include "kva/platform/Process.h"
#include "self_update/KVASelfUpdateXML.h"

namespace {

constexpr auto kRealTimeout = std::chrono::milliseconds(20000);

class AppUpdateAcrossProcessesTest : public kvatest::CServiceTest {
protected:
    void SetUp() override {
        CServiceTest::SetUp();
        m_hub.reset();
        ipcmsg::SetHubEndpoint("");
        KVASelfUpdateXML::GetInstance()->Reload();
        // A service of an earlier test shut the process's download manager down with it.
        CDriverDownloadManager::GetInstance()->Restart();
    }
    void TearDown() override {
        KVASelfUpdateXML::GetInstance()->Reload();
        vtr::tips_sdk::KVATipsManager::GetInstance()->Disconnect();
        CServiceTest::TearDown();
    }
    std::string ExpectLine(const std::string& text) { return kvatest::ExpectLine(m_suite, text, kRealTimeout); }
    plat::CChildProcess m_suite;
};

TEST_F(AppUpdateAcrossProcessesTest, UpdatePressedInTheMessageCentreIsInstalledByTheSuitesInstaller) {
    WriteCatalogue([](CCatalogueMaker& m) { m.AddPackage("application", "0", "Pilotdeck", "5.1.0.12", 5); });
    ASSERT_TRUE(SetInstalledVersion("0", "5.0.0.1", "Pilotdeck"));
    const auto scenario = State() / "scenario.txt";
    std::ofstream(scenario) << "appmgr drvstatus 0\nmc wait-tip 20000\nmc button\n";
    ASSERT_TRUE(kvatest::StartKva(m_suite, State(), {"suite", "--scenario", scenario.string()}));
    ExpectLine("peers ready");

    _TOBEUPDATE_DRIVER_INFO app;
    app.strDriverID = "0";
    app.versionInfo.strNextVersion = "5.1.0.12";
    KVASelfUpdateXML::GetInstance()->SetDriverVersionInfo(app);
    ExpectLine("5.1.0.12");
    ExpectLine("msgcentre answered tip");
    ExpectLine("driver status asked by 0x360000, answered \"0\"");

    // The downloaded installer, with two blanks before the language and the default locale.
    const std::string prefix = "installer application setup: ";
    const std::string line = ExpectLine(prefix);
    const std::string command = line.substr(line.find(prefix) + prefix.size());
    const std::string tail = " /QU /NCRC  -ParaLangage=\"zh-CN\"";
    ASSERT_GT(command.size(), tail.size()) << command;
    EXPECT_EQ(command.substr(command.size() - tail.size()), tail);
    EXPECT_TRUE(DE::FileExists(command.substr(0, command.size() - tail.size()))) << command;
    ExpectLine("installer application is now 5.1.0.12");
    EXPECT_EQ(GetInstalledVersion("0"), "5.1.0.12");
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->WaitAllIdle(kRealTimeout));
    EXPECT_EQ(m_suite.Stop(), 0);
}

}  // namespace
