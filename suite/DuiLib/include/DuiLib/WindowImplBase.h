// A top-level window of the suite, headless: its class, title, visibility, rectangle and
// properties live in the machine's window table, where every process's probes see it. Messages
// reach HandleMessage on the UI thread; timers come from UIMainQueue. Its controls come from the
// layout named by GetSkinFile (see UIManager.h); their events reach Notify. Other processes act on
// the window through CUIAutomation.
//
// Create, ShowWindow, SetWindowPos and the timers are UI-thread calls, like their Windows
// originals; the destructor may run on any thread (it destroys the window and its timers).
#pragma once

#include <cstdint>
#include <string>

#include "DuiLib/UIControl.h"
#include "DuiLib/UIManager.h"
#include "kva/platform/Desktop.h"

namespace DuiLib {

using UINT = std::uint32_t;
using LRESULT = std::intptr_t;

// Window messages the stand-in sends.
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_DISPLAYCHANGE = 0x007E;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT VK_F4 = 0x73;

// Styles and position flags the library uses.
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_EX_TOPMOST = 0x00000008;
inline constexpr std::uint32_t WS_EX_TOOLWINDOW = 0x00000080;
inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;
inline constexpr plat::HWND HWND_TOPMOST = static_cast<plat::HWND>(-1);

class WindowImplBase : public INotifyUI {
public:
    WindowImplBase() = default;
    WindowImplBase(const WindowImplBase&) = delete;
    WindowImplBase& operator=(const WindowImplBase&) = delete;
    virtual ~WindowImplBase();

    virtual std::wstring GetWindowClassName() const = 0;
    // The window's own handling; return with bHandled false to get the default (WM_CLOSE and
    // Alt+F4 hide and destroy the window, the rest do nothing).
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual void InitWindow() {}
    virtual std::wstring GetSkinFile() { return {}; }
    // Events of the window's controls ("click", "timer", "menu").
    void Notify(TNotifyUI&) override {}

    // Registers the window (hidden) in the machine's window table and builds its controls from
    // the layout. Default position and size (CW_USEDEFAULT) give the layout's size (else 320x120)
    // at the screen's origin. Returns 0 on failure.
    plat::HWND Create(plat::HWND parent, const wchar_t* name, std::uint32_t style, std::uint32_t exStyle,
                      int x = CW_USEDEFAULT, int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT,
                      int cy = CW_USEDEFAULT);
    plat::HWND GetHWND() const { return m_hWnd; }
    void ShowWindow(bool bShow = true, bool bTakeFocus = true);
    bool SetWindowPos(plat::HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
    void CenterWindow();
    // Hides and destroys the window unless HandleMessage handles WM_CLOSE. `nRet` is the
    // dialog result and not used by these windows.
    void Close(UINT nRet = 1);
    bool SetTimer(UINT id, UINT elapseMs);
    bool KillTimer(UINT id);
    // Delivers a message to HandleMessage now, on the calling thread (SendMessage on the UI thread).
    // Unhandled messages get the default: control timers become "timer" notifications.
    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    CPaintManagerUI* GetPaintManager() { return &m_PaintManager; }

protected:
    CPaintManagerUI m_PaintManager{this};

private:
    void DestroyNow();

    plat::HWND m_hWnd = 0;
};

// SetProp/GetProp on any window of the machine.
bool SetProp(plat::HWND hwnd, const char* name, std::int64_t value);
std::int64_t GetProp(plat::HWND hwnd, const char* name);

}  // namespace DuiLib
