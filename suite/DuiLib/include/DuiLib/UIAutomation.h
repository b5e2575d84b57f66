// Acting on windows as a person would, from any process: find a window by class, read a
// control's text and visibility, click a control, choose a menu item, send a window message.
//
// Reads come from what the owning process published. Actions are left as requests for the owner
// (kva/platform/WindowAutomation.h); a thread of the owner's window library picks them up (it
// looks every 20 ms of real time while the process has windows) and runs each on its UI thread,
// so an action waits in real time for the owner and fails when it does not answer in `timeout`.
// The owner's own UI thread runs its actions at once instead. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kva/platform/Desktop.h"
#include "kva/platform/WindowAutomation.h"

namespace DuiLib {

class WindowImplBase;

class CUIAutomation {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kDefaultTimeout{10000};

    // The topmost window of that class, of any process; 0 when none.
    static plat::HWND FindWindow(std::wstring_view className);
    static std::optional<std::wstring> GetControlText(plat::HWND hwnd, std::string_view control);
    // Shown: the control and every container around it are visible.
    static std::optional<bool> IsControlShown(plat::HWND hwnd, std::string_view control);
    static std::vector<plat::ControlState> Controls(plat::HWND hwnd);

    // False when the window or a shown control of that name does not exist, or the owner did not
    // run the action in time.
    static bool Click(plat::HWND hwnd, std::string_view control, Ms timeout = kDefaultTimeout);
    // `hwnd` is a menu window or the owner of an open menu.
    static bool ChooseMenuItem(plat::HWND hwnd, std::string_view item, Ms timeout = kDefaultTimeout);
    static std::optional<std::int64_t> SendWindowMessage(plat::HWND hwnd, std::uint32_t msg, std::int64_t wParam = 0,
                                                         std::int64_t lParam = 0, Ms timeout = kDefaultTimeout);

    // The window library's own side: the windows of this process by handle.
    static void RegisterWindow(WindowImplBase* wnd);
    static void UnregisterWindow(plat::HWND hwnd);
    // UI thread only (the window may go as soon as the UI thread runs something else).
    static WindowImplBase* FromHandle(plat::HWND hwnd);
    static std::vector<WindowImplBase*> Windows();
};

}  // namespace DuiLib
