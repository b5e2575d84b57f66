// The install thread over the two tables: order, retries, failures and what a finished install
// leaves behind (history, doctor row, notices to the UI).
#include "InstallFixture.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "Util/DataManager.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"

namespace {

using kvatest::Eventually;
using Ms = std::chrono::milliseconds;

class InstallLoopTest : public kvatest::CInstallTest {};

TEST_F(InstallLoopTest, OnePassInstallsForcedBeforeIdleInByteOrderAndRecordsEachInstall) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_IDLE, "B2", "Idle Driver");
    Ready(*q, DRIVER_UPDATE_FORCE, "a0", "Lower Forced");
    Ready(*q, DRIVER_UPDATE_FORCE, "A1", "Upper Forced");
    Ready(*q, DRIVER_UPDATE_FORCE, "c9", "No Installer");
    auto entry = q->ForceTable().at("c9");
    entry.strInstallFile.clear();
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "c9", entry);

    StartLoop(*q);
    ASSERT_TRUE(LoopAsleep(*q, 1));
    EXPECT_EQ(m_installer->RequestedIds(), (std::vector<std::string>{"A1", "a0", "B2"}));
    for (const char* id : {"A1", "a0"}) EXPECT_EQ(q->ForceTable().at(id).state, PACKAGE_INSTALLED) << id;
    EXPECT_EQ(q->IdleTable().at("B2").state, PACKAGE_INSTALLED);
    EXPECT_EQ(q->ForceTable().at("c9").state, PACKAGE_DOWNLOADED);

    // The request as the installer sees it: on behalf of the application manager, 20 minutes.
    const auto first = m_installer->Requests().front();
    EXPECT_EQ(first.item.nSenderID, 0xF0000);
    EXPECT_EQ(first.item.nReplyMessageID, 0);
    EXPECT_EQ(static_cast<std::size_t>(first.item.nMessageLen), first.text.size() + 1);
    EXPECT_EQ(first.msg.updatetype, 2);
    EXPECT_EQ(first.msg.timeout, 1200000);
    EXPECT_EQ(first.msg.strCurVersion, "0.9");
    EXPECT_NE(first.msg.file.find("\\A1\\setup.exe"), std::string::npos) << first.msg.file;

    // History rows, the finish notice twice in order per package, the install times.
    const auto history = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems();
    ASSERT_EQ(history.size(), 3u);
    for (const auto& row : history) EXPECT_EQ(row.strCurVersion, "0.9") << "from the package's description";
    tagIPC_MESSAGE_ITEM notice;
    std::string text;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m_appManager->WaitFor(0x50013, &notice, &text));
        ASSERT_TRUE(m_appManager->WaitFor(0x50014));
    }
    EXPECT_EQ(notice.nReplyMessageID, -1);
    EXPECT_EQ(text, R"({"strDriverID":"B2","complete":false,"sourceType":1})");
    const auto times = EventTexts(2006);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[2].rfind("Idle Driver;1.0.B2;5;0;0|", 0), 0u) << times[2];

    // The last idle package done: the doctor row says nothing is left.
    std::vector<DataManager::Row> rows;
    DataManager::Instance()->Get("select * from TABLE_DOCTOR_HISTORY", 1, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(linb::any_cast<std::int64_t>(rows[0][2]), 1);
    EXPECT_EQ(linb::any_cast<std::int64_t>(rows[0][4]), 0);

    // Later passes install nothing again; the entry without an installer is logged every time.
    plat::CClock::Get().Advance(Ms(120000));
    ASSERT_TRUE(LoopAsleep(*q, 2));
    EXPECT_EQ(m_installer->Requests().size(), 3u);
}

TEST_F(InstallLoopTest, ARefusedPackageIsTriedAgainOnePassLater) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_IDLE, "14", "Onboard Audio Driver");
    plat::SetOverride("battery", "5");
    StartLoop(*q);
    ASSERT_TRUE(LoopAsleep(*q, 1)) << q->InstallPasses() << " " << plat::CClock::Get().NextDeadlineIn();
    EXPECT_TRUE(m_installer->Requests().empty());
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_DOWNLOADED);
    EXPECT_EQ(EventTexts(6001), (std::vector<std::string>{"DriverName Onboard Audio Driver;5|21|1"}));

    plat::SetOverride("battery", "80");
    plat::CClock::Get().Advance(Ms(119999));
    EXPECT_TRUE(Eventually([&] { return plat::CClock::Get().NextDeadlineIn() == 1; }));
    EXPECT_EQ(q->InstallPasses(), 1) << "not before the pause is over";
    plat::CClock::Get().Advance(Ms(1));
    ASSERT_TRUE(LoopAsleep(*q, 2));
    EXPECT_EQ(m_installer->RequestedIds(), (std::vector<std::string>{"14"}));
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_INSTALLED);
}

TEST_F(InstallLoopTest, AFailedInstallPausesTenSecondsStaysFailedAndIsNotRetried) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wireless LAN Driver");
    Ready(*q, DRIVER_UPDATE_FORCE, "16", "Bluetooth Driver");
    m_installer->AnswerResult(5, 1603);
    StartLoop(*q);
    ASSERT_TRUE(m_installer->WaitForRequests(1));
    auto& clock = plat::CClock::Get();
    ASSERT_TRUE(Eventually([&] { return clock.NextDeadlineIn() == 10000; }));
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_INSTALLING);
    EXPECT_TRUE(q->IsDriverInstalling());
    EXPECT_EQ(m_installer->Requests().size(), 1u) << "nothing else installs during the pause";
    m_installer->AnswerResult(0, 0);
    clock.Advance(Ms(10000));
    ASSERT_TRUE(LoopAsleep(*q, 1));
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_INSTALL_FAILED);
    EXPECT_EQ(q->ForceTable().at("16").state, PACKAGE_INSTALLED);
    EXPECT_EQ(EventTexts(2005), (std::vector<std::string>{"Wireless LAN Driver;1.0.15;2|5|1603"}));
    EXPECT_EQ(DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems().size(), 1u) << "only the success";

    clock.Advance(Ms(120000));
    ASSERT_TRUE(LoopAsleep(*q, 2));
    EXPECT_EQ(m_installer->RequestedIds(), (std::vector<std::string>{"15", "16"}));
}

TEST_F(InstallLoopTest, StoppingTheServiceEndsTheLoopWhileAnInstallerNeverAnswers) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wireless LAN Driver");
    m_installer->Answer(std::nullopt);
    StartLoop(*q);
    ASSERT_TRUE(m_installer->WaitForRequests(1));
    q.reset();  // joins the install thread, which waits for an answer that never comes
    EXPECT_EQ(plat::CClock::Get().NextDeadlineIn(), -1) << "no timed wait of the service is left";
}

}  // namespace
