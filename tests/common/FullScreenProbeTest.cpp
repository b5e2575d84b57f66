#include "TestMachine.h"
#include "common/FullScreenProbe.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"

namespace {

class FullScreenProbeTest : public kvatest::CTestMachine {
protected:
    void SetUp() override {
        CTestMachine::SetUp();
        plat::SetOverride("screen", "1920x1080");
    }
    static plat::HWND Window(plat::DWORD pid, plat::Rect rect, bool visible = true, const wchar_t* title = L"") {
        plat::WindowInfo w;
        w.className = L"AppWindow";
        w.title = title;
        w.visible = visible;
        w.rect = rect;
        w.processId = pid;
        return plat::CreateTopWindow(w);
    }
};

TEST_F(FullScreenProbeTest, OneProcessCoveringEveryCornerIsFullScreen) {
    EXPECT_FALSE(IsFullscreen()) << "only the shell's desktop";
    const plat::DWORD game = plat::AddProcess(L"game.exe");
    const plat::HWND small = Window(game, {100, 100, 1800, 1000});
    EXPECT_FALSE(IsFullscreen()) << "corners still show the shell";
    const plat::HWND full = Window(game, {0, 0, 1920, 1080});
    EXPECT_TRUE(IsFullscreen());
    plat::ShowTopWindow(full, false);
    EXPECT_FALSE(IsFullscreen()) << "a hidden window covers nothing";
    plat::DestroyTopWindow(small);
    plat::DestroyTopWindow(full);

    // Two windows side by side: full screen when they belong to one process.
    const plat::HWND left = Window(game, {0, 0, 960, 1080});
    const plat::HWND right = Window(game, {960, 0, 1920, 1080});
    EXPECT_TRUE(IsFullscreen());
    plat::DestroyTopWindow(right);
    Window(plat::AddProcess(L"player.exe"), {960, 0, 1920, 1080});
    EXPECT_FALSE(IsFullscreen()) << "two processes share the screen";
    plat::DestroyTopWindow(left);
}

TEST_F(FullScreenProbeTest, ShellProcessAndScreenSaversAreNotFullScreenApplications) {
    const plat::DWORD explorer = plat::GetWindowProcessId(plat::ShellWindow());
    const plat::HWND shellOwned = Window(explorer, {0, 0, 1920, 1080});
    EXPECT_FALSE(IsFullscreen());
    plat::DestroyTopWindow(shellOwned);

    const plat::DWORD app = plat::AddProcess(L"slides.exe");
    Window(app, {0, 0, 1920, 1080});
    ASSERT_TRUE(IsFullscreen());
    plat::AddProcess(L"PhotoScreensaver.scr");
    EXPECT_FALSE(IsFullscreen());
    plat::RemoveProcess(L"PhotoScreensaver.scr");

    const plat::HWND saver = Window(app, {0, 0, 1920, 1080}, true, L"bextavantor");
    ASSERT_TRUE(plat::SetForegroundWindow(saver));
    EXPECT_FALSE(IsFullscreen()) << "the maker's screen saver in front";
    plat::ShowTopWindow(saver, false);
    EXPECT_TRUE(IsFullscreen());
}

}  // namespace
