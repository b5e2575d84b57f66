#include <future>
#include <thread>
#include <vector>

#include "DuiLib/UIAutomation.h"
#include "DuiLib/UIMainQueue.h"
#include "DuiLib/UIMenu.h"
#include "DuiLib/WindowImplBase.h"
#include "TestMachine.h"
#include "kva/platform/Clock.h"

namespace {

using namespace DuiLib;
using Ms = std::chrono::milliseconds;

constexpr const char* kLayout = R"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,60">
  <Font id="1" size="20"/>
  <HorizontalLayout name="Panel">
    <Label name="TxtMsg" text="hello" font="1" textcolor="#FFFFFFFF"/>
    <Label name="TxtDot" visible="false"/>
    <Button name="BtnOk" text="OK"/>
  </HorizontalLayout>
  <Button name="BtnMenu"/>
</Window>)";

// A window that records what its controls tell it; everything runs on the UI thread.
class CProbeWnd : public WindowImplBase {
public:
    CProbeWnd() { m_PaintManager.LoadLayoutText(kLayout); }
    std::wstring GetWindowClassName() const override { return L"KvaProbeWnd"; }
    void Notify(TNotifyUI& msg) override {
        events.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L"") + L":" +
                         std::to_wstring(msg.wParam));
        if (msg.sType == DUI_MSGTYPE_CLICK && msg.pSender && msg.pSender->GetName() == L"BtnMenu") {
            menu = std::make_unique<CMenuWnd>(this, GetHWND());
            menu->AddItem(L"later", L"Remind me later");
            menu->AddItem(L"never", L"Do not remind me");
            menu->Init(10, 10);
        }
    }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override {
        if (uMsg == 0x0400) {
            bHandled = true;
            return static_cast<LRESULT>(wParam + static_cast<WPARAM>(lParam));
        }
        bHandled = false;
        return 0;
    }
    std::vector<std::wstring> events;
    std::unique_ptr<CMenuWnd> menu;
};

class ControlsTest : public kvatest::CTestMachine {
protected:
    UIMainQueue& ui = *UIMainQueue::getInstance();
    std::unique_ptr<CProbeWnd> wnd;

    template <class F>
    auto OnUi(F fn) {
        std::promise<decltype(fn())> p;
        ui.dispatch([&] {
            if constexpr (std::is_void_v<decltype(fn())>) {
                fn();
                p.set_value();
            } else {
                p.set_value(fn());
            }
        });
        return p.get_future().get();
    }
    void SetUp() override {
        kvatest::CTestMachine::SetUp();
        wnd = std::make_unique<CProbeWnd>();
        ASSERT_NE(OnUi([&] { return wnd->Create(0, L"probe", WS_POPUP, 0); }), 0u);
    }
    void TearDown() override {
        OnUi([&] { wnd.reset(); });
        kvatest::CTestMachine::TearDown();
    }
    std::vector<std::wstring> Events() {
        return OnUi([&] { return wnd->events; });
    }
};

TEST_F(ControlsTest, LayoutGivesControlsSizeAndFontsAndOtherProcessesSeeTheirState) {
    auto info = plat::GetWindowInfo(wnd->GetHWND());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->rect.right - info->rect.left, 300);
    EXPECT_EQ(info->rect.bottom - info->rect.top, 60);
    OnUi([&] {
        CControlUI* msg = wnd->GetPaintManager()->FindControl(L"TxtMsg");
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(msg->GetTextColor(), 0xFFFFFFFFu);
        EXPECT_EQ(wnd->GetPaintManager()->FontSize(msg->GetFont()), 20);
        EXPECT_EQ(wnd->GetPaintManager()->FindControl(L"Nothing"), nullptr);
    });
    const plat::HWND h = CUIAutomation::FindWindow(L"KvaProbeWnd");
    ASSERT_EQ(h, wnd->GetHWND());
    EXPECT_EQ(CUIAutomation::GetControlText(h, "TxtMsg"), L"hello");
    EXPECT_EQ(CUIAutomation::IsControlShown(h, "TxtDot"), false);
    EXPECT_EQ(CUIAutomation::GetControlText(h, "Nothing"), std::nullopt);

    // Changes are seen at once; a control inside a hidden container is not shown.
    OnUi([&] {
        wnd->GetPaintManager()->FindControl(L"TxtMsg")->SetText(L"changed");
        wnd->GetPaintManager()->FindControl(L"TxtDot")->SetVisible(true);
    });
    EXPECT_EQ(CUIAutomation::GetControlText(h, "TxtMsg"), L"changed");
    EXPECT_EQ(CUIAutomation::IsControlShown(h, "TxtDot"), true);
    OnUi([&] { wnd->GetPaintManager()->FindControl(L"Panel")->SetVisible(false); });
    OnUi([&] { EXPECT_FALSE(wnd->GetPaintManager()->FindControl(L"BtnOk")->IsShown()); });
}

TEST_F(ControlsTest, BrokenLayoutLeavesAWindowWithoutControls) {
    CPaintManagerUI pm(nullptr);
    EXPECT_FALSE(pm.LoadLayoutText("<Window><Label name='x'>"));
    EXPECT_FALSE(pm.LoadLayoutText("<Dialog/>"));
    EXPECT_EQ(pm.FindControl(L"x"), nullptr);
    EXPECT_FALSE(pm.LoadLayoutFile(State() / "missing.xml"));
}

TEST_F(ControlsTest, ControlTimersNotifyWithTheirControlAndIdOnTheFakeClock) {
    auto& clock = plat::CClock::Get();
    OnUi([&] {
        auto* pm = wnd->GetPaintManager();
        pm->SetTimer(pm->FindControl(L"Panel"), 7, 200);
        pm->SetTimer(pm->FindControl(L"TxtMsg"), 7, 500);
    });
    clock.Advance(Ms(200));
    ASSERT_TRUE(kvatest::Eventually([&] { return Events().size() == 1; }));
    EXPECT_EQ(Events()[0], L"timer:Panel:7");
    clock.Advance(Ms(300));
    ASSERT_TRUE(kvatest::Eventually([&] { return Events().size() == 3; }));
    // Killing one control's timer leaves the other control's timer of the same id running.
    OnUi([&] { wnd->GetPaintManager()->KillTimer(wnd->GetPaintManager()->FindControl(L"Panel"), 7); });
    clock.Advance(Ms(500));
    ASSERT_TRUE(kvatest::Eventually([&] { return Events().size() == 4; }));
    EXPECT_EQ(Events()[3], L"timer:TxtMsg:7");
    OnUi([&] { wnd->GetPaintManager()->KillTimer(wnd->GetPaintManager()->FindControl(L"TxtMsg")); });
    clock.Advance(Ms(5000));
    ASSERT_TRUE(ui.WaitIdle());
    EXPECT_EQ(Events().size(), 4u);
}

TEST_F(ControlsTest, AutomationClicksShownControlsOnlyAndSendsMessages) {
    const plat::HWND h = wnd->GetHWND();
    EXPECT_TRUE(CUIAutomation::Click(h, "BtnOk"));
    EXPECT_FALSE(CUIAutomation::Click(h, "TxtDot"));  // hidden
    EXPECT_FALSE(CUIAutomation::Click(h, "Nothing"));
    EXPECT_FALSE(CUIAutomation::Click(h + 1000, "BtnOk"));
    EXPECT_EQ(Events(), std::vector<std::wstring>{L"click:BtnOk:0"});
    EXPECT_EQ(CUIAutomation::SendWindowMessage(h, 0x0400, 40, 2), 42);
}

TEST_F(ControlsTest, MenuItemChosenThroughItsOwnerNotifiesTheOwnerAndCloses) {
    const plat::HWND h = wnd->GetHWND();
    EXPECT_FALSE(CUIAutomation::ChooseMenuItem(h, "later"));  // no menu open yet
    ASSERT_TRUE(CUIAutomation::Click(h, "BtnMenu"));
    const plat::HWND menu = CUIAutomation::FindWindow(L"MenuWnd");
    ASSERT_NE(menu, 0u);
    EXPECT_EQ(CUIAutomation::GetControlText(menu, "never"), L"Do not remind me");
    EXPECT_FALSE(CUIAutomation::ChooseMenuItem(h, "sometimes"));
    EXPECT_TRUE(CUIAutomation::ChooseMenuItem(h, "never"));
    EXPECT_EQ(Events().back(), L"menu:never:0");
    EXPECT_FALSE(plat::IsWindowAlive(menu));
    EXPECT_FALSE(CUIAutomation::ChooseMenuItem(h, "later"));

    // Chosen on the menu window itself, as a click on its item would.
    ASSERT_TRUE(CUIAutomation::Click(h, "BtnMenu"));
    EXPECT_TRUE(CUIAutomation::Click(CUIAutomation::FindWindow(L"MenuWnd"), "later"));
    EXPECT_EQ(Events().back(), L"menu:later:0");
}

TEST_F(ControlsTest, ActionsOnTheOwnersUiThreadRunAtOnce) {
    const plat::HWND h = wnd->GetHWND();
    EXPECT_TRUE(OnUi([&] { return CUIAutomation::Click(h, "BtnOk", Ms(0)); }));
    EXPECT_EQ(Events().size(), 1u);
}

}  // namespace
