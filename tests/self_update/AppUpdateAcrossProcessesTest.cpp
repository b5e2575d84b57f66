// The application update across processes: `kva suite` is the message centre that shows the
// notice and presses its button as a scenario says; this process holds the notice controller and
// stands in for the installer.
#include <fstream>

#include "DriverFixture.h"
#include "IPCMessage/IPCEndpoint.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "Util/DE.h"
#include "ipc/IpcIds.h"
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

TEST_F(AppUpdateAcrossProcessesTest, UpdatePressedInTheMessageCentreDownloadsAndHandsTheInstallerItsCommandLine) {
    WriteCatalogue([](CCatalogueMaker& m) { m.AddPackage("application", "0", "Pilotdeck", "5.1.0.12", 5); });
    const auto scenario = State() / "scenario.txt";
    std::ofstream(scenario) << "appmgr drvstatus 0\nmc wait-tip 20000\nmc button\n";
    ASSERT_TRUE(m_suite.Start(kvatest::BinaryPath("kva"), {"--state", State().string(), "suite", "--scenario",
                                                          scenario.string()}));
    ExpectLine("peers ready");
    kvatest::CRecordingPeer installer(ipc_endpoint::kInstaller);

    _TOBEUPDATE_DRIVER_INFO app;
    app.strDriverID = "0";
    app.versionInfo.strNextVersion = "5.1.0.12";
    KVASelfUpdateXML::GetInstance()->SetDriverVersionInfo(app);
    ExpectLine("5.1.0.12");
    ExpectLine("msgcentre answered tip");
    ExpectLine("driver status asked by 0x360000, answered \"0\"");

    tagIPC_MESSAGE_ITEM item;
    std::string command;
    ASSERT_TRUE(installer.WaitFor(ipc_msg::kSetupApplication, &item, &command));
    EXPECT_EQ(item.nSenderID, ipc_endpoint::kSelfUpdateUI);
    const std::string tail = " /QU /NCRC  -ParaLangage=\"zh-CN\"";
    const std::string text = command.c_str();
    ASSERT_GT(text.size(), tail.size()) << text;
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_TRUE(DE::FileExists(text.substr(0, text.size() - tail.size()))) << "the downloaded installer: " << text;
    ExpectLine("closed");  // the progress tip
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->WaitAllIdle(kRealTimeout));
    EXPECT_EQ(m_suite.Stop(), 0);
}

}  // namespace
