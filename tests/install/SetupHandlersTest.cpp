// Manual install requests of the UI, the application's setup flows and the diagnose tool.
#include <future>
#include <thread>

#include "IPCMessage/IPCMessageClient.h"
#include "InstallFixture.h"
#include "IpcTestKit.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "Util/DE.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"

namespace {

using kvatest::Eventually;

class SetupHandlersTest : public kvatest::CInstallTest {
protected:
    static std::string Request(const std::string& id) {
        _SETUP_DRIVER_MSG m;
        m.id = id;
        m.strCurVersion = "1.0";
        m.strNextVersion = "2.0";
        m.fileSize = 123456;
        m.file = "C:\\d\\setup.exe";
        return m.ToJson();
    }
    // The answer under 0xF000F, checked for its fixed fields.
    std::string Answer(int syncId) {
        tagIPC_MESSAGE_ITEM item;
        std::string payload;
        EXPECT_TRUE(m_appManager->WaitFor(0xF000F, &item, &payload));
        EXPECT_EQ(item.nSyncMessageId, syncId);
        EXPECT_EQ(item.nReplyMessageID, 0);
        EXPECT_EQ(item.nSenderID, 0x50000);
        return payload;
    }
};

TEST_F(SetupHandlersTest, AUiInstallRequestIsForwardedAsSentAndAnsweredWithTheInstallersBytes) {
    auto q = StartService();
    const std::string text = Request("14");
    m_installer->AnswerResult(0, 3010);
    ASSERT_TRUE(m_appManager->Send(0xF000F, text + std::string(1, '\0') + "ignored", 31));
    EXPECT_EQ(Answer(31), SetupAnswerBytes(0, 3010));
    const auto sent = m_installer->Requests().at(0);
    EXPECT_EQ(sent.text, text);
    EXPECT_EQ(sent.item.nSenderID, 0x50000);
    EXPECT_EQ(static_cast<std::size_t>(sent.item.nMessageLen), text.size() + 1);
    const auto rows = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].FileSize, 123456);
    EXPECT_EQ(rows[0].strCurVersion, "1.0");

    // What the installer says goes back as it is, of any length; a failure records nothing.
    m_installer->Answer(std::string("abc"));
    ASSERT_TRUE(m_appManager->Send(0xF000F, "not json", 32));
    EXPECT_EQ(Answer(32), "abc");
    EXPECT_EQ(m_installer->Requests().at(1).text, "not json");
    m_installer->AnswerResult(7, 1);
    ASSERT_TRUE(m_appManager->Send(0xF000F, text, 33));
    EXPECT_EQ(Answer(33), SetupAnswerBytes(7, 1));
    EXPECT_EQ(DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems().size(), 1u);

    // The PD firmware never reaches the installer; an empty request is not answered.
    ASSERT_TRUE(m_appManager->Send(0xF000F, "", 34));
    ASSERT_TRUE(m_appManager->Send(0xF000F, Request("45"), 35));
    EXPECT_EQ(Answer(35), SetupAnswerBytes(-1, -1)) << "written here, not by the installer: no image, -1";
    EXPECT_EQ(m_installer->Requests().size(), 3u);
    EXPECT_EQ(m_appManager->Count(0xF000F), 4u);
}

TEST_F(SetupHandlersTest, OtherRequestsAreAnsweredWhileASetupRequestWaits) {
    auto q = StartService();
    m_installer->Answer(std::nullopt);
    ASSERT_TRUE(m_appManager->Send(0xF000F, Request("14"), 40));
    ASSERT_TRUE(m_installer->WaitForRequests(1));
    ASSERT_TRUE(m_appManager->Send(0x50016, R"({"strDriverID":"14"})", 41));
    ASSERT_TRUE(m_appManager->WaitFor(0x50016));
    ASSERT_TRUE(m_appManager->Send(0xF0009, "{}", 42));
    ASSERT_TRUE(m_appManager->WaitFor(0xF0009));
    // A system-state message is handled meanwhile too: the machine is no longer idle.
    ASSERT_TRUE(Publish(SystemState(2)));
    EXPECT_TRUE(Eventually([&] { return !q->IsFreeScene(); }));
    EXPECT_EQ(m_appManager->Count(0xF000F), 0u);
    q.reset();  // the waiting request ends with the service
    EXPECT_EQ(plat::CClock::Get().NextDeadlineIn(), -1) << "no timed wait of the service is left";
}

TEST_F(SetupHandlersTest, TheApplicationsSilentSetupSendsItsCommandLineAndClosesTheApplication) {
    auto q = StartService();
    _TOBEUPDATE_DRIVER_INFO app = Package("0", "Pilotdeck", 10, 5);
    q->SetAppUpdateInfo(app);
    const plat::HWND window = plat::CreateTopWindow({0, L"Pilotdeck", L"", false, {0, 0, 10, 10}, 0});
    q->SilentInstall("C:\\d\\setup.exe");
    std::string command;
    ASSERT_TRUE(m_installer->WaitForCommandLine(&command));
    EXPECT_EQ(command, "C:\\d\\setup.exe /S /NCRC  -ParaLangage=\"zh-CN\"");
    EXPECT_FALSE(plat::IsWindowAlive(window));
    EXPECT_EQ(EventTexts(4015), (std::vector<std::string>{"1.0.0;5|3"}));

    // A user locale goes in as it is; a suite window open holds the setup back.
    DE::Registry::SetValue(plat::kHKeyUsers, UserKey(L"\\Control Panel\\International\\"), L"LocaleName",
                           std::wstring(L"en-US"));
    EXPECT_TRUE(q->PostSetupPilotdeckMsg("C:\\d\\setup.exe", 2, false));
    ASSERT_TRUE(m_installer->WaitForCommandLine(&command));
    EXPECT_EQ(command, "C:\\d\\setup.exe /NCRC  -ParaLangage=\"en-US\"");
    EXPECT_FALSE(q->PostSetupPilotdeckMsg("", 2, true));
    const plat::HWND busy = plat::CreateTopWindow({0, L"StartupDui", L"", true, {0, 0, 10, 10}, 0});
    q->StartSetup("C:\\d\\setup.exe");
    EXPECT_EQ(EventTexts(3011), (std::vector<std::string>{"2|17|3"}));
    plat::DestroyTopWindow(busy);
}

// While the application's installer runs, a second one is refused at once and every driver
// install is refused with code 12.
TEST_F(SetupHandlersTest, ASecondApplicationInstallAndEveryDriverInstallAreRefusedWhileOneRuns) {
    auto q = StartService();
    q->SetAppUpdateInfo(Package("0", "Pilotdeck", 10, 5));
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wlan");
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    q->SetAppSetupHook([&entered, released] {
        entered.set_value();
        released.wait();
    });
    auto first = std::async(std::launch::async, [&] { q->SilentInstall("C:\\d\\first.exe"); });
    entered.get_future().wait();

    q->SilentInstall("C:\\d\\second.exe");  // refused before it reaches the hook
    const auto e = q->ForceTable().at("15");
    EXPECT_FALSE(q->IdleInstall(e.strInstallFile, "15", e.strDriverName, e.strNextVersionID, e.strNextVersion,
                                DRIVER_UPDATE_FORCE));
    EXPECT_EQ(EventTexts(6001), (std::vector<std::string>{"DriverName Wlan;2|21|12"}));
    release.set_value();
    first.get();

    // Posted in order on one connection: a second installer would have come first.
    std::string command;
    ASSERT_TRUE(m_installer->WaitForCommandLine(&command));
    EXPECT_EQ(command.rfind("C:\\d\\first.exe ", 0), 0u) << command;
    EXPECT_TRUE(m_installer->Requests().empty());
}

class DiagnoseTest : public kvatest::CInstallTest {
protected:
    void SetUp() override {
        CInstallTest::SetUp();
        m_listener = std::make_unique<CIPCMessageClient>(0x20000, true, false);
        m_listener->SubscribeIPCMessage(0xF0000, 0xF0014);
        m_listener->BindSubscribeCallback(m_broadcasts.Callback());
        m_listener->BindDefaultCallback(m_answers.Callback());
        ASSERT_TRUE(m_listener->WaitForHub(std::chrono::seconds(10)));
    }
    void TearDown() override {
        m_listener.reset();
        CInstallTest::TearDown();
    }
    bool Ask(int message, int syncId) {
        std::string none;
        tagIPC_MESSAGE_ITEM item = kvatest::CIpcTest::Item(0x50000, 0x20000, message, none);
        item.nReplyMessageID = 0x20001;
        item.nSyncMessageId = syncId;
        return m_listener->PostIPCMessage(item);
    }
    kvatest::CRecorder m_broadcasts, m_answers;
    std::unique_ptr<CIPCMessageClient> m_listener;
};

TEST_F(DiagnoseTest, WithoutADescriptionTheRequestIsAnsweredZeroAndNothingStarts) {
    auto q = StartService();
    ASSERT_TRUE(Ask(0xF0013, 9));
    ASSERT_TRUE(m_answers.WaitFor(1));
    const auto answer = m_answers.Items()[0];
    EXPECT_EQ(answer.payload, std::string(1, '\0'));
    EXPECT_EQ(answer.item.nSenderID, 0x20001) << "answered from the request's second id";
    EXPECT_EQ(answer.item.nSyncMessageId, 9);
    EXPECT_EQ(answer.item.nMessageID, 0xF0013);

    // An unsuccessful download: one broadcast 0, no install.
    q->DiagnoseAnalysisDownloadFinish({"101", "", 0, 0, true, false});
    ASSERT_TRUE(m_broadcasts.WaitFor(1));
    EXPECT_EQ(m_broadcasts.Items()[0].payload, std::string(1, '\0'));
    EXPECT_EQ(m_broadcasts.Items()[0].item.nSyncMessageId, 0);
    q.reset();
    EXPECT_EQ(m_broadcasts.Count(), 1u);
    EXPECT_TRUE(m_installer->Requests().empty());
}

TEST_F(DiagnoseTest, TheToolIsDownloadedInstalledAndItsFailureReportedAndBroadcast) {
    WriteCatalogue([](CCatalogueMaker& m) { m.AddPackage("diagnose", "101", "Diagnose Tool", "3.2", 1); });
    auto q = StartService();
    m_installer->AnswerResult(5, 1603);
    ASSERT_TRUE(Ask(0xF0012, 1));
    ASSERT_TRUE(m_answers.WaitFor(1));
    EXPECT_EQ(m_answers.Items()[0].payload, std::string(1, '\1'));
    ASSERT_TRUE(Ask(0xF0013, 2));
    ASSERT_TRUE(m_answers.WaitFor(2));
    EXPECT_EQ(m_answers.Items()[1].payload, std::string(1, '\1'));
    ASSERT_TRUE(m_broadcasts.WaitFor(1));
    EXPECT_EQ(m_broadcasts.Items()[0].payload, std::string(1, '\0'));
    EXPECT_EQ(m_installer->RequestedIds(), (std::vector<std::string>{"101"}));
    const auto texts = EventTexts(2006);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("DiagnoseAnalysis;3.2;1;0;1603|", 0), 0u) << texts[0];
}

}  // namespace
