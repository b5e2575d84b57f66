#include "DuiLib/WindowImplBase.h"

#include "DuiLib/UIAutomation.h"
#include "DuiLib/UIMainQueue.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"

namespace DuiLib {

namespace {
constexpr int kDefaultWidth = 320;
constexpr int kDefaultHeight = 120;
}  // namespace

WindowImplBase::~WindowImplBase() { DestroyNow(); }

void WindowImplBase::DestroyNow() {
    UIMainQueue::getInstance()->KillTimers(this);
    if (m_hWnd) {
        CUIAutomation::UnregisterWindow(m_hWnd);
        plat::DestroyTopWindow(m_hWnd);
        m_hWnd = 0;
    }
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM, LPARAM, bool& bHandled) {
    bHandled = false;
    (void)uMsg;
    return 0;
}

plat::HWND WindowImplBase::Create(plat::HWND, const wchar_t* name, std::uint32_t, std::uint32_t, int x, int y,
                                  int cx, int cy) {
    if (m_hWnd) return m_hWnd;
    const std::wstring skin = GetSkinFile();
    if (!skin.empty()) m_PaintManager.LoadLayoutFile(CPaintManagerUI::ResolveLayout(skin));
    const auto [layoutW, layoutH] = m_PaintManager.InitialSize();
    const int left = x == CW_USEDEFAULT ? 0 : x;
    const int top = y == CW_USEDEFAULT ? 0 : y;
    const int width = cx != CW_USEDEFAULT ? cx : layoutW > 0 ? layoutW : kDefaultWidth;
    const int height = cy != CW_USEDEFAULT ? cy : layoutH > 0 ? layoutH : kDefaultHeight;
    plat::WindowInfo wanted;
    wanted.className = GetWindowClassName();
    wanted.title = name ? name : L"";
    wanted.visible = false;
    wanted.rect = plat::Rect{left, top, left + width, top + height};
    m_hWnd = plat::CreateTopWindow(wanted);
    if (!m_hWnd) {
        KVA_LOG_ERROR("cannot create a window of class " << plat::ToUtf8(wanted.className));
        return 0;
    }
    m_PaintManager.AddNotifier(this);
    m_PaintManager.PublishAll();
    CUIAutomation::RegisterWindow(this);
    SendMessage(WM_CREATE);
    InitWindow();
    return m_hWnd;
}

void WindowImplBase::ShowWindow(bool bShow, bool) {
    if (!m_hWnd) return;
    plat::ShowTopWindow(m_hWnd, bShow);
    SendMessage(WM_SHOWWINDOW, bShow ? 1 : 0);
}

bool WindowImplBase::SetWindowPos(plat::HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    auto info = plat::GetWindowInfo(m_hWnd);
    if (!info) return false;
    plat::Rect r = info->rect;
    if (!(flags & SWP_NOMOVE)) {
        const int w = r.right - r.left, h = r.bottom - r.top;
        r = plat::Rect{x, y, x + w, y + h};
    }
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + cx;
        r.bottom = r.top + cy;
    }
    if (!(flags & SWP_NOZORDER) && insertAfter == HWND_TOPMOST) plat::SetForegroundWindow(m_hWnd);
    return plat::SetWindowRect(m_hWnd, r);
}

void WindowImplBase::CenterWindow() {
    auto info = plat::GetWindowInfo(m_hWnd);
    auto desk = plat::GetWindowInfo(plat::DesktopWindow());
    if (!info || !desk) return;
    const int w = info->rect.right - info->rect.left, h = info->rect.bottom - info->rect.top;
    const int x = desk->rect.left + (desk->rect.right - desk->rect.left - w) / 2;
    const int y = desk->rect.top + (desk->rect.bottom - desk->rect.top - h) / 2;
    plat::SetWindowRect(m_hWnd, plat::Rect{x, y, x + w, y + h});
}

void WindowImplBase::Close(UINT) {
    bool handled = false;
    HandleMessage(WM_CLOSE, 0, 0, handled);
    if (!handled) {
        SendMessage(WM_DESTROY);
        DestroyNow();
    }
}

bool WindowImplBase::SetTimer(UINT id, UINT elapseMs) {
    if (!m_hWnd) return false;
    UIMainQueue::getInstance()->SetTimer(this, id, elapseMs);
    return true;
}

bool WindowImplBase::KillTimer(UINT id) {
    UIMainQueue::getInstance()->KillTimer(this, id);
    return true;
}

LRESULT WindowImplBase::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    const LRESULT result = HandleMessage(uMsg, wParam, lParam, handled);
    if (!handled && uMsg == WM_TIMER) m_PaintManager.OnWindowTimer(static_cast<UINT>(wParam));
    // The system's default for Alt+F4: the window is asked to close.
    if (!handled && uMsg == WM_SYSKEYDOWN && wParam == VK_F4) Close();
    return result;
}

bool SetProp(plat::HWND hwnd, const char* name, std::int64_t value) {
    return plat::SetWindowProperty(hwnd, name, value);
}

std::int64_t GetProp(plat::HWND hwnd, const char* name) { return plat::GetWindowProperty(hwnd, name).value_or(0); }

}  // namespace DuiLib
