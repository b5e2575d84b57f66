// A top-level window of the suite, headless: its class, title, visibility, rectangle and
// properties live in the machine's window table, where every process's probes see it. Messages
// reach HandleMessage on the UI thread; timers come from UIMainQueue.
//
// Create, ShowWindow, SetWindowPos and the timers are UI-thread calls, like their Windows
// originals; the destructor may run on any thread (it destroys the window and its timers).
#pragma once

#include <cstdint>
#include <string>

#include "kva/platform/Desktop.h"

namespace DuiLib {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
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

class WindowImplBase {
public:
    WindowImplBase() = default;
    WindowImplBase(const WindowImplBase&) = delete;
    WindowImplBase& operator=(const WindowImplBase&) = delete;
    virtual ~WindowImplBase();

    virtual std::wstring GetWindowClassName() const = 0;
    // The window's own handling; return with bHandled false to get the default (WM_CLOSE hides
    // and destroys the window, the rest do nothing).
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual void InitWindow() {}
    virtual std::wstring GetSkinFile() { return {}; }

    // Registers the window (hidden) in the machine's window table. Default position and size
    // (CW_USEDEFAULT) give a 320x120 window at the screen's origin. Returns 0 on failure.
    plat::HWND Create(plat::HWND parent, const wchar_t* name, std::uint32_t style, std::uint32_t exStyle,
                      int x = CW_USEDEFAULT, int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT,
                      int cy = CW_USEDEFAULT);
    plat::HWND GetHWND() const { return m_hWnd; }
    void ShowWindow(bool bShow = true, bool bTakeFocus = true);
    bool SetWindowPos(plat::HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
    void CenterWindow();
    void Close();
    bool SetTimer(UINT id, UINT elapseMs);
    bool KillTimer(UINT id);
    // Delivers a message to HandleMessage now, on the calling thread (SendMessage on the UI thread).
    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

private:
    void DestroyNow();

    plat::HWND m_hWnd = 0;
};

// SetProp/GetProp on any window of the machine.
bool SetProp(plat::HWND hwnd, const char* name, std::int64_t value);
std::int64_t GetProp(plat::HWND hwnd, const char* name);

}  // namespace DuiLib
