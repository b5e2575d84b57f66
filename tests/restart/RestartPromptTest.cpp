// The restart prompt: when the service asks for it, what the message centre gets, and what each
// answer of the reminder window does. The service runs with an in-process hub, peers for the
// message centre and the installer, and the fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <optional>

#include "DriverFixture.h"
#include "DuiLib/UIAutomation.h"
#include "DuiLib/UICulture.h"
#include "DuiLib/UIMainQueue.h"
#include "Util/DE.h"
#include "install/DataEventIds.h"
#include "firmware/EventSink.h"
#include "install/ForceUpRemindRestartManager.h"
#include "install/SetupMessage.h"
#include "ipc/IpcIds.h"
#include "ipc/MsgCenterRequest.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace kvatest {
namespace {

using namespace std::chrono_literals;
using plat::CClock;

// The message centre as the restart prompt sees it: the restart requests (shown for six hours),
// not the notices other parts of the service send it.
class CRestartRequests {
public:
    CRestartRequests() : m_client(ipc_endpoint::kMessageCentre, true, false) {
        m_client.BindMessageCallback(ipc_msg::kMsgCenterRequest, m_seen.Callback());
        m_client.WaitForHub(std::chrono::seconds(20));
    }
    std::size_t Count() const {
        const auto all = m_seen.Items();
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [](const CSeenItem& s) { return Restart(s); }));
    }
    bool Next(tagIPC_MESSAGE_ITEM* item, CMsgCenterRequest* request) {
        while (const auto seen = m_seen.Take(ipc_msg::kMsgCenterRequest, std::chrono::seconds(20))) {
            const auto restart = Restart(*seen);
            if (!restart) continue;
            *item = seen->item;
            *request = *restart;
            return true;
        }
        return false;
    }

private:
    static std::optional<CMsgCenterRequest> Restart(const CSeenItem& seen) {
        auto request = CMsgCenterRequest::Parse(seen.payload.data(), seen.payload.size());
        return request && request->displayTimeMs == 21600000 ? request : std::nullopt;
    }
    CRecorder m_seen;
    CIPCMessageClient m_client;
};

class RestartPromptTest : public CDriverTest {
protected:
    void SetUp() override {
        CDriverTest::SetUp();
        m_msgCentre = std::make_unique<CRestartRequests>();
        m_installer = std::make_unique<CRecordingPeer>(ipc_endpoint::kInstaller);
        m_service = StartService();
        // Past the service's one-shot reporting wait, so the nearest deadline is what a test set.
        ASSERT_TRUE(Eventually([] { return CClock::Get().NextDeadlineIn() == 2000; }));
        CClock::Get().Advance(2000ms);
    }
    void TearDown() override {
        m_service.reset();
        m_installer.reset();
        m_msgCentre.reset();
        CDriverTest::TearDown();
    }

    static void OnUiThread(const std::function<void()>& task) {
        auto* ui = DuiLib::UIMainQueue::getInstance();
        ASSERT_TRUE(ui->dispatch(task));
        ASSERT_TRUE(ui->WaitIdle());
    }

    // Runs the check and lets the UI thread finish what it queued.
    void Check() {
        m_service->CheckRestartWnd();
        ASSERT_TRUE(DuiLib::UIMainQueue::getInstance()->WaitIdle());
    }

    plat::HWND Window() {
        plat::HWND h = 0;
        OnUiThread([&] { h = m_service->RestartWindow() ? m_service->RestartWindow()->GetHWND() : 0; });
        return h;
    }

    int WindowLevel() {
        int level = -1;
        OnUiThread([&] { level = m_service->RestartWindow() ? m_service->RestartWindow()->Level() : -1; });
        return level;
    }

    // The next request the message centre got, checked for the fields every request has.
    CMsgCenterRequest NextRequest() {
        tagIPC_MESSAGE_ITEM item;
        CMsgCenterRequest request;
        EXPECT_TRUE(m_msgCentre->Next(&item, &request));
        EXPECT_EQ(item.nSenderID, -1);
        EXPECT_EQ(item.nReplyMessageID, ipc_msg::kMsgCenterSecondId);
        EXPECT_NE(request.firstOwnerId, 0u);
        EXPECT_EQ(request.firstOwnerId, request.kindValue) << "the same owner in both places";
        return request;
    }

    std::size_t Requests() { return m_msgCentre->Count(); }

    // The application manager's report that a manual update of source 1 runs or ended.
    void ManualUpdate(bool running) {
        const std::string status = std::string(R"({"complete":)") + (running ? "false" : "true") + R"(,"sourceType":1})";
        ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppManagerUIStatus, status + '\0'));
        UpdaterManager::enmUPDATER_ERROR_TYPE error{};
        ASSERT_TRUE(Eventually([&] { return m_service->CheckManualState(error) != running; }));
    }

    // Threads of the process with no service, every singleton a service starts already up; the
    // fixture's service is replaced by a fresh one.
    int ThreadsWithoutService() {
        m_service.reset();
        const int threads = ThreadCount();
        m_service = StartService();
        EXPECT_TRUE(Eventually([] { return CClock::Get().NextDeadlineIn() == 2000; }));
        CClock::Get().Advance(2000ms);  // past the reporting thread's wait, as in SetUp
        return threads;
    }

    static std::wstring Text(const wchar_t* id) { return DuiLib::UICulture::GetInstance()->GetString(id); }

    void FullScreen(bool on) {
        if (on) {
            const plat::Rect screen = plat::GetWindowInfo(plat::DesktopWindow())->rect;
            m_fullScreen = plat::CreateTopWindow({0, L"Game", L"", true, screen, plat::AddProcess(L"game.exe")});
        } else {
            plat::DestroyTopWindow(m_fullScreen);
        }
    }

    std::unique_ptr<CRestartRequests> m_msgCentre;
    std::unique_ptr<CRecordingPeer> m_installer;
    std::unique_ptr<CKVAServerQuery> m_service;
    plat::HWND m_fullScreen = 0;
};

TEST_F(RestartPromptTest, PromptOnlyWhenNothingIsPendingAndSomethingNeedsIt) {
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "3", Entry(PACKAGE_INSTALLED, 0));
    Check();
    EXPECT_EQ(Window(), 0u) << "level 0 everywhere";

    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 1));
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "5", Entry(PACKAGE_DOWNLOADED, 0));
    Check();
    EXPECT_EQ(Window(), 0u) << "package 5 is still to be installed";

    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "5", Entry(PACKAGE_INSTALLED, 2));
    ManualUpdate(true);
    Check();
    EXPECT_EQ(Window(), 0u) << "a manual update is running";
    ManualUpdate(false);
    Check();
    ASSERT_NE(Window(), 0u);
    EXPECT_EQ(WindowLevel(), 2);
    EXPECT_FALSE(plat::IsWindowShown(Window())) << "the owner of the request stays hidden";
    EXPECT_GE(plat::GetWindowInfo(Window())->rect.left, 9999);

    const CMsgCenterRequest request = NextRequest();
    EXPECT_EQ(request.kind, CMsgCenterRequest::kKindPopup);
    EXPECT_EQ(request.secondOwnerId, 0u);
    EXPECT_TRUE(request.text.empty());
    std::uintptr_t owner = 0;
    OnUiThread([&] { owner = reinterpret_cast<std::uintptr_t>(m_service->RestartWindow()); });
    EXPECT_EQ(request.firstOwnerId, owner);
    EXPECT_EQ(request.kindValue, owner);
}

TEST_F(RestartPromptTest, IdlePackagesAreWaitedForOnlyWithTheSwitchOn) {
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 1));
    m_service->SetTableEntry(DRIVER_UPDATE_IDLE, "9", Entry(PACKAGE_DOWNLOADED, 0));
    Check();
    EXPECT_EQ(Window(), 0u);

    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{0});
    Check();
    EXPECT_NE(Window(), 0u);
    NextRequest();
}

TEST_F(RestartPromptTest, FullScreenHoldsThePromptUntilItEnds) {
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 1));
    FullScreen(true);
    auto check = std::async(std::launch::async, [this] { m_service->CheckRestartWnd(); });
    // The check's minute is the nearest deadline: the service's own waits are longer.
    auto checkAsleep = [] { return CClock::Get().NextDeadlineIn() == 60000; };
    ASSERT_TRUE(Eventually(checkAsleep)) << CClock::Get().NextDeadlineIn() << " sleepers " << CClock::Get().Sleepers();
    CClock::Get().Advance(60000ms);
    ASSERT_TRUE(Eventually(checkAsleep)) << "still full screen: another minute";
    EXPECT_EQ(Requests(), 0u);
    FullScreen(false);
    CClock::Get().Advance(60000ms);
    ASSERT_EQ(check.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_TRUE(DuiLib::UIMainQueue::getInstance()->WaitIdle());
    EXPECT_NE(Window(), 0u);
    NextRequest();
}

TEST_F(RestartPromptTest, RequestTextsGiveLevelsAndAWindowsLevelOnlyRises) {
    ASSERT_TRUE(m_installer->Send(ipc_msg::kPopRestartWnd, std::string("shutdown") + '\0'));
    ASSERT_TRUE(Eventually([&] { return Requests() == 1; }));
    EXPECT_EQ(WindowLevel(), 2);

    // The second request replaces the window; inside one window the level does not fall.
    ASSERT_TRUE(m_installer->Send(ipc_msg::kPopRestartWnd, std::string("reboot") + '\0'));
    ASSERT_TRUE(Eventually([&] { return Requests() == 2; }));
    EXPECT_EQ(WindowLevel(), 1);
    OnUiThread([&] { m_service->RestartWindow()->ShowRestartDlg(DRIVER_UPDATE_FORCE, RESTART_LEVEL_2, false); });
    OnUiThread([&] { m_service->RestartWindow()->ShowRestartDlg(DRIVER_UPDATE_FORCE, RESTART_LEVEL_1, false); });
    EXPECT_EQ(WindowLevel(), 2);
    EXPECT_EQ(DuiLib::CUIAutomation::GetControlText(Window(), "btnNow"), Text(L"IDS_DRVUP_CONFIRM_SHUTDOWN_TIPS"));

    ASSERT_TRUE(m_installer->Send(ipc_msg::kPopRestartWnd, std::string(4, '\0')));
    ASSERT_TRUE(Eventually([&] { return Requests() == 3; }));
    EXPECT_EQ(WindowLevel(), 3);
    EXPECT_EQ(DuiLib::CUIAutomation::GetControlText(Window(), "txtContent"), Text(L"IDS_DRVUP_NEED_RESTART_AND_AC_TIPS"));

    ASSERT_TRUE(m_installer->Send(ipc_msg::kPopRestartWnd, ""));  // no text: refused
    OnUiThread([] {});
    EXPECT_EQ(Requests(), 3u);
}

TEST_F(RestartPromptTest, RestartNowSendsTheCommandForTheLevel) {
    plat::SetOverride("ac", "1");
    plat::SetOverride("battery", "64");
    ASSERT_TRUE(m_installer->Send(ipc_msg::kPopRestartWnd, "other"));
    ASSERT_TRUE(Eventually([&] { return Requests() == 1; }));
    const plat::HWND level3 = Window();
    ASSERT_TRUE(DuiLib::CUIAutomation::Click(level3, "btnNow"));
    tagIPC_MESSAGE_ITEM item;
    std::string payload;
    ASSERT_TRUE(m_installer->WaitFor(ipc_msg::kRestartRequest, &item, &payload));
    EXPECT_EQ(payload, std::string("reboot") + '\0');
    EXPECT_FALSE(plat::IsWindowAlive(level3));
    auto power = Events(evt::kRestartPower);
    ASSERT_EQ(power.size(), 1u);
    EXPECT_EQ(power[0].values, (std::vector<std::string>{"6012", "1", "64"}));

    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 2));
    Check();
    ASSERT_TRUE(DuiLib::CUIAutomation::Click(Window(), "btnNow"));
    ASSERT_TRUE(m_installer->WaitFor(ipc_msg::kRestartRequest, &item, &payload));
    EXPECT_EQ(item.nMessageLen, 9);
    EXPECT_EQ(payload, std::string("shutdown") + '\0');
    EXPECT_EQ(item.nReceiverID, ipc_endpoint::kInstaller);
    EXPECT_EQ(item.nSenderID, -1);
    auto choices = Events(evt::kRestartChoice);
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[1].values, (std::vector<std::string>{"6009", "2", "2"}));
    EXPECT_EQ(Events(evt::kRestartPower).size(), 1u) << "only level 3 reports the power";
}

TEST_F(RestartPromptTest, EachPostponeBringsTheRequestBackAfterItsInterval) {
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 1));
    Check();
    ASSERT_TRUE(Eventually([&] { return Requests() == 1; }));
    const std::pair<const char*, std::chrono::milliseconds> choices[] = {
        {"menuRemind10Min", 600000ms}, {"menuRemind1Hour", 3600000ms}, {"menuRemind4Hour", 14400000ms}};
    std::size_t expected = 1;
    for (const auto& [item, interval] : choices) {
        SCOPED_TRACE(item);
        ASSERT_TRUE(DuiLib::CUIAutomation::Click(Window(), "btnPostpone"));
        ASSERT_TRUE(DuiLib::CUIAutomation::ChooseMenuItem(Window(), item));
        EXPECT_FALSE(plat::IsWindowShown(Window()));
        CClock::Get().Advance(interval - 1ms);
        OnUiThread([] {});
        EXPECT_EQ(Requests(), expected) << "not sooner";
        CClock::Get().Advance(1ms);
        // The service's first round may hold the UI thread in a timed wait of its own; let the
        // clock end that wait rather than wait for it in real time.
        bool back = Eventually([&] { return Requests() == expected + 1; }, 2000ms);
        for (int i = 0; i < 12 && !back; ++i) {
            CClock::Get().Advance(10000ms);
            back = Eventually([&] { return Requests() == expected + 1; }, 2000ms);
        }
        ASSERT_TRUE(back);
        ++expected;
    }
    ASSERT_TRUE(DuiLib::CUIAutomation::Click(Window(), "btnFolder"));
    const plat::HWND window = Window();
    ASSERT_TRUE(DuiLib::CUIAutomation::ChooseMenuItem(window, "menuRemindNever"));
    EXPECT_FALSE(plat::IsWindowAlive(window));
    CClock::Get().Advance(14400000ms);
    OnUiThread([] {});
    EXPECT_EQ(Requests(), expected);
    EXPECT_EQ(Events(evt::kRestartChoice).size(), 4u);
}

TEST_F(RestartPromptTest, FullScreenSkipsTheRequestAndRetriesAfterTenMinutes) {
    FullScreen(true);
    ASSERT_TRUE(m_installer->Send(ipc_msg::kPopRestartWnd, "reboot"));
    ASSERT_TRUE(Eventually([&] { return Window() != 0; }));
    OnUiThread([] {});
    EXPECT_EQ(Requests(), 0u);
    std::uint32_t interval = 0;
    OnUiThread([&] { interval = m_service->RestartWindow()->RemindInterval(); });
    EXPECT_EQ(interval, 600000u);

    // Checked every 10 s while full screen; the request comes once the screen is free again.
    CClock::Get().Advance(10000ms);
    OnUiThread([] {});
    EXPECT_EQ(Requests(), 0u);
    FullScreen(false);
    CClock::Get().Advance(600000ms);
    // The service's own round (due after five minutes) may hold the UI thread for a while of the
    // clock; further checks every 10 s then bring the request.
    for (int i = 0; i < 12 && !Eventually([&] { return Requests() == 1; }, 1000ms); ++i) {
        CClock::Get().Advance(10000ms);
    }
    ASSERT_EQ(Requests(), 1u);
    EXPECT_TRUE(plat::IsWindowShown(Window()));
}

TEST_F(RestartPromptTest, AltF4AndDpiChanges) {
    plat::SetOverride("dpi", "144");
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 1));
    Check();
    const plat::HWND window = Window();
    float scale = 0;
    int margin = 0;
    OnUiThread([&] {
        scale = m_service->RestartWindow()->Scale();
        margin = m_service->RestartWindow()->Margin();
    });
    EXPECT_FLOAT_EQ(scale, 1.5f);
    EXPECT_EQ(margin, 45);
    plat::SetOverride("dpi", "120");
    ASSERT_TRUE(DuiLib::CUIAutomation::SendWindowMessage(window, ForceUpRemindRestartManager::kDpiChanged));
    OnUiThread([&] { margin = m_service->RestartWindow()->Margin(); });
    EXPECT_EQ(margin, 37);
    ASSERT_TRUE(DuiLib::CUIAutomation::SendWindowMessage(window, DuiLib::WM_SYSKEYDOWN, DuiLib::VK_F4));
    EXPECT_TRUE(plat::IsWindowAlive(window));
}

// Unloading the host destroys the service: with the prompt up and its menu open, it returns at
// once (the clock never moves) and leaves neither a window nor a thread behind.
TEST_F(RestartPromptTest, StoppingTheServiceWithThePromptUpRemovesTheWindowAndItsThreads) {
    const int threads = ThreadsWithoutService();
    m_service->SetTableEntry(DRIVER_UPDATE_FORCE, "4", Entry(PACKAGE_INSTALLED, 1));
    Check();
    ASSERT_TRUE(DuiLib::CUIAutomation::Click(Window(), "btnPostpone"));
    const plat::HWND window = Window();
    m_service.reset();
    EXPECT_FALSE(plat::IsWindowAlive(window));
    EXPECT_EQ(DuiLib::CUIAutomation::FindWindow(L"MenuWnd"), 0u);
    // The window library's automation thread ends on its own once the last window is gone.
    EXPECT_TRUE(Eventually([&] { return ThreadCount() <= threads; })) << ThreadCount() << " > " << threads;
}

// The same while a manual PD firmware upgrade waits up to 120 s for the firmware's event.
TEST_F(RestartPromptTest, StoppingTheServiceWhileAPdUpgradeWaitsEndsTheWaitAndItsThreads) {
    const int threads = ThreadsWithoutService();
    plat::SetOverride("pd", "event=none");
    const std::string image = "C:\\ProgramData\\pd\\image.bin";
    WriteChangedFile(plat::ToHostPath(image), std::string(1024, 'x'));
    _SETUP_DRIVER_MSG request;
    request.id = "45";
    request.file = image;
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppManagerUIInstall, request.ToJson() + '\0'));
    ASSERT_TRUE(Eventually([] { return CClock::Get().NextDeadlineIn() == 120000; })) << CClock::Get().NextDeadlineIn();
    EXPECT_EQ(CEventSink::LiveCount(), 1u);
    m_service.reset();
    EXPECT_EQ(CEventSink::LiveCount(), 0u);
    EXPECT_EQ(CClock::Get().NextDeadlineIn(), -1) << "no timed wait is left";
    // The window library's automation thread ends on its own once the last window is gone.
    EXPECT_TRUE(Eventually([&] { return ThreadCount() <= threads; })) << ThreadCount() << " > " << threads;
}

}  // namespace
}  // namespace kvatest
