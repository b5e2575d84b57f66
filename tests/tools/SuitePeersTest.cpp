// `kva suite` as its own process answers for synergy and records the application manager's
// pop-up requests, as a scenario tells it.
#include <fstream>

#include "DriverFixture.h"
#include "IPCMessage/IPCEndpoint.h"
#include "kva/platform/Process.h"

namespace {

constexpr auto kRealTimeout = std::chrono::milliseconds(20000);

class SuitePeersTest : public kvatest::CDriverTest {
protected:
    void SetUp() override {
        CDriverTest::SetUp();
        // The peers of this test live in `kva suite`, on the machine's own hub.
        m_synergy.reset();
        m_appManager.reset();
        m_hub.reset();
        ipcmsg::SetHubEndpoint("");
    }
    void StartSuite(std::vector<std::string> args) {
        args.insert(args.begin(), "suite");
        ASSERT_TRUE(kvatest::StartKva(m_suite, State(), std::move(args)));
        ExpectLine("peers ready");
    }
    std::string ExpectLine(const std::string& text) { return kvatest::ExpectLine(m_suite, text, kRealTimeout); }
    plat::CChildProcess m_suite;
};

TEST_F(SuitePeersTest, SynergyAnswersAsTheScenarioSaysAndPopUpRequestsAreRecorded) {
    const auto scenario = State() / "scenario.txt";
    std::ofstream(scenario) << "# synergy is busy during this test\nsynergy 1\n";
    StartSuite({"--scenario", scenario.string(), "--do", "echo scenario done"});
    ExpectLine("scenario done");
    auto q = StartService();
    EXPECT_TRUE(q->IsSynergyInUse());
    ExpectLine("synergy   asked by 0x50000, answered \"1\"");
    UpdaterManager::enmUPDATER_ERROR_TYPE error{};
    EXPECT_FALSE(q->CheckManualState(error));
    EXPECT_EQ(error, UpdaterManager::UPDATER_ERROR_SYNERGY_IN_USE);

    EXPECT_TRUE(q->SendPopWindowsMsgToAppMg(true));
    ExpectLine("appmgr    show driver pop-up (0x50004) from 0x50000");
    EXPECT_TRUE(q->SendPopWindowsMsgToAppMg(false));
    ExpectLine("appmgr    close driver pop-up (0x50006) from 0x50000");
    q.reset();
    EXPECT_EQ(m_suite.Stop(), 0);
}

TEST_F(SuitePeersTest, ABadStepIsReportedAndTheSuiteGoesOn) {
    StartSuite({"--do", "synergy maybe", "--do", "scene free byte28 1", "--do", "fly away"});
    ExpectLine("synergy takes 1 or 0");
    ExpectLine("sysstate  published scene 1 byte28 1");
    ExpectLine("unknown step: fly");
    auto q = StartService();
    EXPECT_FALSE(q->IsSynergyInUse()) << "synergy is free until told otherwise";
    q.reset();
    EXPECT_EQ(m_suite.Stop(), 0);
}

}  // namespace
