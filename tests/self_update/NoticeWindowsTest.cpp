// The two corner notices: placement, the dots and their time limits on the fake clock, and the
// re-placement after a display change.
#include <future>

#include "DuiLib/UIAutomation.h"
#include "DuiLib/UIMainQueue.h"
#include "TestMachine.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Text.h"
#include "self_update/CornerPlacement.h"
#include "self_update/KVASilentTipWnd.h"
#include "self_update/UpdateTipsUI.h"

namespace {

using namespace DuiLib;
using kvatest::Eventually;
using Ms = std::chrono::milliseconds;

TEST(CornerPlacementTest, BottomRightCornerScaledAndMirroredAndAlwaysInsideTheDesktop) {
    const plat::Rect desk{0, 0, 1920, 1080};
    auto p = corner::Place({0, 0, 300, 40}, desk, 1.25, false);
    EXPECT_EQ(p.x, 1607) << "1920 - 300 - 12.5, truncated";
    EXPECT_EQ(p.y, 977) << "1080 - 40 - 62.5, truncated";
    p = corner::Place({0, 0, 300, 40}, desk, 1.25, true);
    EXPECT_EQ(p.x, 12) << "right to left: 10 scaled pixels from the left edge";
    p = corner::Place({0, 0, 2500, 40}, {100, 0, 2020, 1080}, 1.0, false);
    EXPECT_EQ(p.x, 100) << "wider than the desktop: at its left edge";
    p = corner::Place({0, 0, 2500, 40}, {100, 0, 2020, 1080}, 1.0, true);
    EXPECT_EQ(p.x, 2020 - 2500) << "mirrored and wider: kept from running past the right edge";
    p = corner::Place({0, 0, 300, 1200}, desk, 1.0, false);
    EXPECT_EQ(p.y, 0) << "taller than the desktop: at its top";
}

class NoticeWindowsTest : public kvatest::CTestMachine {
protected:
    UIMainQueue& ui = *UIMainQueue::getInstance();
    template <class F>
    auto OnUi(F fn) {
        using R = decltype(fn());
        std::promise<R> p;
        ui.dispatch([&] {
            if constexpr (std::is_void_v<R>) {
                fn();
                p.set_value();
            } else {
                p.set_value(fn());
            }
        });
        return p.get_future().get();
    }
    template <class W>
    std::unique_ptr<W> Make() {
        auto w = std::make_unique<W>();
        EXPECT_NE(OnUi([&] { return w->Create(0, nullptr, WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW); }), 0u);
        return w;
    }
    template <class W>
    void Drop(std::unique_ptr<W>& w) {
        OnUi([&] { w.reset(); });
    }
    static std::wstring Text(plat::HWND h, const char* control) {
        return CUIAutomation::GetControlText(h, control).value_or(L"<none>");
    }
    plat::CClock& clock = plat::CClock::Get();
};

TEST_F(NoticeWindowsTest, InstallingNoticeRunsItsDotsEvery200MsAndGivesUpAfter20Minutes) {
    auto tips = Make<UpdateTipsUI>();
    const plat::HWND h = tips->GetHWND();
    EXPECT_FALSE(plat::IsWindowShown(h)) << "created hidden";
    OnUi([&] { tips->ShowInstalling("15"); });
    EXPECT_TRUE(plat::IsWindowShown(h));
    EXPECT_NE(Text(h, "TxtMsgTips").find(L"Wireless"), std::wstring::npos) << plat::ToUtf8(Text(h, "TxtMsgTips"));
    EXPECT_EQ(CUIAutomation::IsControlShown(h, "TxtDot"), true);
    const auto rect = plat::GetWindowInfo(h)->rect;
    EXPECT_EQ(rect.bottom - rect.top, 40);
    EXPECT_EQ(rect.right, 1920 - 10) << "in the corner with its measured width";
    EXPECT_GT(rect.right - rect.left, 100);

    for (const wchar_t* dots : {L".", L"..", L"...", L"....", L"", L"."}) {
        clock.Advance(Ms(200));
        ASSERT_TRUE(Eventually([&] { return Text(h, "TxtDot") == dots; })) << plat::ToUtf8(dots);
    }
    clock.Advance(Ms(1200000 - 6 * 200 - 200));
    ASSERT_TRUE(Eventually([&] { return Text(h, "TxtDot") == L".."; }));
    EXPECT_TRUE(plat::IsWindowShown(h)) << "still within 20 minutes";
    clock.Advance(Ms(200));
    ASSERT_TRUE(Eventually([&] { return !plat::IsWindowShown(h); }));
    clock.Advance(Ms(1000));
    ASSERT_TRUE(ui.WaitIdle());
    EXPECT_EQ(Text(h, "TxtDot"), L"..") << "its timers are gone";
    Drop(tips);
}

TEST_F(NoticeWindowsTest, InstalledNoticeStopsTheDotsAndHidesAfterFourSeconds) {
    auto tips = Make<UpdateTipsUI>();
    const plat::HWND h = tips->GetHWND();
    OnUi([&] { tips->ShowInstalling("14"); });
    clock.Advance(Ms(200));
    ASSERT_TRUE(Eventually([&] { return Text(h, "TxtDot") == L"."; }));
    OnUi([&] { tips->ShowInstalled("14"); });
    EXPECT_EQ(CUIAutomation::IsControlShown(h, "TxtDot"), false);
    EXPECT_TRUE(plat::IsWindowShown(h));
    for (int i = 0; i < 7; ++i) clock.Advance(Ms(500));
    ASSERT_TRUE(ui.WaitIdle());
    EXPECT_TRUE(plat::IsWindowShown(h)) << "3.5 s after";
    EXPECT_EQ(Text(h, "TxtDot"), L".");
    clock.Advance(Ms(500));
    ASSERT_TRUE(Eventually([&] { return !plat::IsWindowShown(h); }));
    Drop(tips);
}

TEST_F(NoticeWindowsTest, DisplayChangeMovesTheNoticeBackIntoTheCornerTwoSecondsLater) {
    auto tips = Make<UpdateTipsUI>();
    const plat::HWND h = tips->GetHWND();
    OnUi([&] { tips->ShowInstalling("15"); });
    const auto placed = plat::GetWindowInfo(h)->rect;
    // Where a change of resolution would have left it.
    plat::SetWindowRect(h, {5, 5, 5 + placed.right - placed.left, 5 + placed.bottom - placed.top});
    EXPECT_EQ(CUIAutomation::SendWindowMessage(h, WM_DISPLAYCHANGE), 0);
    ASSERT_TRUE(clock.WaitUntilIdle()) << "the settling wait has begun";
    EXPECT_EQ(plat::GetWindowInfo(h)->rect.left, 5) << "not before the display settles";
    clock.Advance(Ms(1999));
    ASSERT_TRUE(ui.WaitIdle());
    EXPECT_EQ(plat::GetWindowInfo(h)->rect.left, 5);
    clock.Advance(Ms(1));
    ASSERT_TRUE(Eventually([&] { return plat::GetWindowInfo(h)->rect.left == placed.left; }));
    EXPECT_EQ(plat::GetWindowInfo(h)->rect.top, placed.top);
    Drop(tips);
}

TEST_F(NoticeWindowsTest, ApplicationInstallNoticeHidesAfterFourSecondsOrWhenClosed) {
    auto silent = Make<KVASilentTipWnd>();
    const plat::HWND h = silent->GetHWND();
    EXPECT_FALSE(plat::IsWindowShown(h));
    OnUi([&] { silent->ShowStartInstall(); });
    EXPECT_TRUE(plat::IsWindowShown(h));
    EXPECT_NE(Text(h, "TxtMsgTips"), L"IDS_SELF_UPDATE_INSTALL_TIPS") << "the localised text";
    for (int i = 0; i < 3; ++i) clock.Advance(Ms(1000));
    ASSERT_TRUE(ui.WaitIdle());
    EXPECT_TRUE(plat::IsWindowShown(h));
    clock.Advance(Ms(1000));
    ASSERT_TRUE(Eventually([&] { return !plat::IsWindowShown(h); }));
    OnUi([&] { silent->ShowStartInstall(); });
    ASSERT_TRUE(CUIAutomation::Click(h, "BtnCloseUI"));
    EXPECT_FALSE(plat::IsWindowAlive(h));
    Drop(silent);
}

// Alt+F4 leaves the driver install notice up; the application notice gets the default and closes.
TEST_F(NoticeWindowsTest, OnlyTheDriverInstallNoticeSwallowsAltF4) {
    auto tips = Make<UpdateTipsUI>();
    auto silent = Make<KVASilentTipWnd>();
    OnUi([&] {
        tips->ShowInstalling("15");
        silent->ShowStartInstall();
    });
    ASSERT_TRUE(CUIAutomation::SendWindowMessage(tips->GetHWND(), WM_SYSKEYDOWN, VK_F4));
    EXPECT_TRUE(plat::IsWindowShown(tips->GetHWND()));
    ASSERT_TRUE(CUIAutomation::SendWindowMessage(silent->GetHWND(), WM_SYSKEYDOWN, VK_F4));
    EXPECT_FALSE(plat::IsWindowAlive(silent->GetHWND()));
    Drop(silent);
    Drop(tips);
}

}  // namespace
