#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "DuiLib/UIMainQueue.h"
#include "DuiLib/WindowImplBase.h"
#include "TestMachine.h"
#include "kva/platform/Clock.h"

namespace {

using namespace DuiLib;
using Ms = std::chrono::milliseconds;

class CCountingWnd : public WindowImplBase {
public:
    std::wstring GetWindowClassName() const override { return L"KvaTestWnd"; }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM, bool& bHandled) override {
        if (uMsg == WM_TIMER) {
            timerIds.push_back(static_cast<UINT>(wParam));
            onUiThread = onUiThread && UIMainQueue::getInstance()->IsUIThread();
        }
        bHandled = false;
        return 0;
    }
    std::vector<UINT> timerIds;  // written on the UI thread only
    bool onUiThread = true;
};

class UIMainQueueTest : public kvatest::CTestMachine {
protected:
    UIMainQueue& ui = *UIMainQueue::getInstance();
    // Runs `fn` on the UI thread and waits for it.
    template <class F>
    auto OnUi(F fn) {
        std::promise<decltype(fn())> p;
        ui.dispatch([&] { p.set_value(fn()); });
        return p.get_future().get();
    }
};

TEST_F(UIMainQueueTest, TasksRunInOrderOnOneThreadThatIsNotTheCaller) {
    std::vector<int> order;
    std::atomic<bool> allOnUi{true};
    for (int i = 0; i < 50; ++i) {
        ui.dispatch([&, i] {
            order.push_back(i);
            allOnUi = allOnUi && ui.IsUIThread();
        });
    }
    ASSERT_TRUE(ui.WaitIdle());
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnUi.load());
    EXPECT_FALSE(ui.IsUIThread());
    // A task that throws is contained; the queue goes on.
    ui.dispatch([] { throw std::runtime_error("boom"); });
    EXPECT_EQ(OnUi([] { return 7; }), 7);
}

TEST_F(UIMainQueueTest, WindowsLiveInTheMachineAndTimersFollowTheClock) {
    auto* wnd = new CCountingWnd();
    const plat::HWND hwnd = OnUi([&] { return wnd->Create(0, L"", WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW); });
    ASSERT_NE(hwnd, 0u);
    EXPECT_EQ(plat::FindTopWindow(L"KvaTestWnd"), hwnd);
    EXPECT_FALSE(plat::IsWindowShown(hwnd));
    EXPECT_TRUE(SetProp(hwnd, "TipsWndMutex", 1));
    EXPECT_EQ(GetProp(hwnd, "TipsWndMutex"), 1);

    OnUi([&] {
        wnd->ShowWindow(true);
        wnd->SetWindowPos(HWND_TOPMOST, 1500, 900, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        wnd->SetTimer(1110, 200);
        wnd->SetTimer(1111, 500);
        return 0;
    });
    EXPECT_TRUE(plat::IsWindowShown(hwnd));
    EXPECT_EQ(plat::GetWindowInfo(hwnd)->rect.left, 1500);
    EXPECT_EQ(plat::GetWindowInfo(hwnd)->rect.right, 1820) << "SWP_NOSIZE keeps the width";

    auto& clock = plat::CClock::Get();
    for (int step = 0; step < 5; ++step) {  // 1000 ms in 200 ms steps
        ASSERT_TRUE(clock.WaitForSleepers(1));
        ASSERT_TRUE(ui.WaitIdle());
        clock.Advance(Ms(200));
        ASSERT_TRUE(clock.WaitForSleepers(1));
    }
    auto ids = OnUi([&] { return wnd->timerIds; });
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 1110u), 5);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 1111u), 2);
    EXPECT_TRUE(OnUi([&] { return wnd->onUiThread; }));

    // Destroyed from another thread: gone from the machine, and its timers stop.
    delete wnd;
    EXPECT_FALSE(plat::IsWindowAlive(hwnd));
    clock.Advance(Ms(5000));
    ASSERT_TRUE(ui.WaitIdle());
}

// Idle, a process has no UI thread, though its windows stay; a timer or a task brings it back.
TEST_F(UIMainQueueTest, TheThreadRunsOnlyWhileATaskOrATimerWaits) {
    auto* wnd = new CCountingWnd();
    const plat::HWND hwnd = OnUi([&] { return wnd->Create(0, L"", WS_POPUP, 0); });
    const int withUiThread = OnUi([] { return kvatest::ThreadCount(); });
    EXPECT_TRUE(kvatest::Eventually([&] { return kvatest::ThreadCount() < withUiThread; }));
    EXPECT_TRUE(plat::IsWindowAlive(hwnd));

    auto& clock = plat::CClock::Get();
    wnd->SetTimer(7, 100);  // from this thread, with no UI thread running
    ASSERT_TRUE(clock.WaitForSleepers(1));
    clock.Advance(Ms(100));
    EXPECT_TRUE(kvatest::Eventually([&] { return OnUi([&] { return wnd->timerIds.size(); }) == 1u; }));
    EXPECT_TRUE(OnUi([&] { return wnd->onUiThread; }));
    wnd->KillTimer(7);
    EXPECT_TRUE(kvatest::Eventually([&] { return kvatest::ThreadCount() < withUiThread; }));
    delete wnd;
}

TEST_F(UIMainQueueTest, CloseWithoutOwnHandlingDestroysTheWindow) {
    CCountingWnd wnd;
    const plat::HWND hwnd = OnUi([&] { return wnd.Create(0, L"t", WS_POPUP, 0, 10, 10, 100, 50); });
    EXPECT_EQ(plat::GetWindowInfo(hwnd)->rect.bottom, 60);
    OnUi([&] {
        wnd.Close();
        return 0;
    });
    EXPECT_FALSE(plat::IsWindowAlive(hwnd));
    EXPECT_EQ(wnd.GetHWND(), 0u);
}

}  // namespace
