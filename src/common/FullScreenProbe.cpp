#include "common/FullScreenProbe.h"

#include <array>

#include "kva/platform/Desktop.h"

namespace {

bool ScreenSaverRunning() {
    if (plat::ProcessExists(L"PhotoScreensaver.scr")) return true;
    const plat::HWND saver = plat::FindTopWindow(L"", L"bextavantor");
    return saver != 0 && plat::IsWindowShown(saver) && plat::ForegroundWindow() == saver;
}

}  // namespace

bool IsFullscreen() {
    const auto desktop = plat::GetWindowInfo(plat::DesktopWindow());
    if (!desktop) return false;
    const plat::Rect& r = desktop->rect;
    const std::array<plat::HWND, 4> corners = {
        plat::WindowAtPoint(10, 10), plat::WindowAtPoint(10, r.bottom - 10),
        plat::WindowAtPoint(r.right - 10, 10), plat::WindowAtPoint(r.right - 10, r.bottom - 10)};
    for (plat::HWND h : corners) {
        if (h == 0) return false;
    }
    const plat::HWND first = corners[0];
    for (plat::HWND h : corners) {
        if (h != first && plat::GetWindowProcessId(h) != plat::GetWindowProcessId(first)) return false;
    }
    if (!plat::IsWindowAlive(first) || !plat::IsWindowShown(first)) return false;
    const plat::DWORD pid = plat::GetWindowProcessId(first);
    if (pid == plat::GetWindowProcessId(plat::ShellWindow()) || pid == plat::GetWindowProcessId(plat::DesktopWindow()))
        return false;
    return !ScreenSaverRunning();
}
