// Top-level windows and processes of the machine. On the simulated machine both are rows of the
// machine database, so every process of the suite sees the same desktop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kva/platform/Types.h"

namespace plat {

struct Rect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(std::int32_t x, std::int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
};

struct WindowInfo {
    HWND hwnd = 0;
    std::wstring className;
    std::wstring title;
    bool visible = false;
    Rect rect;
    DWORD processId = 0;
};

// A new window goes on top of the z-order. processId 0 means the calling process.
HWND CreateTopWindow(const WindowInfo& wanted);
bool DestroyTopWindow(HWND hwnd);
bool IsWindowAlive(HWND hwnd);
bool IsWindowShown(HWND hwnd);
bool ShowTopWindow(HWND hwnd, bool visible);
bool SetWindowRect(HWND hwnd, const Rect& rect);
bool SetWindowTitle(HWND hwnd, std::wstring_view title);
std::optional<WindowInfo> GetWindowInfo(HWND hwnd);
// First window (topmost first) of that class, and of that title unless `title` is empty.
HWND FindTopWindow(std::wstring_view className, std::wstring_view title = {});
// Topmost visible window containing the point; the shell's desktop window when none does.
HWND WindowAtPoint(std::int32_t x, std::int32_t y);
DWORD GetWindowProcessId(HWND hwnd);
HWND DesktopWindow();
HWND ShellWindow();
HWND ForegroundWindow();
bool SetForegroundWindow(HWND hwnd);
// Window properties (SetProp/GetProp): integers by name.
bool SetWindowProperty(HWND hwnd, std::string_view name, std::int64_t value);
std::optional<std::int64_t> GetWindowProperty(HWND hwnd, std::string_view name);
std::vector<WindowInfo> ListWindows();  // topmost first, the desktop and shell windows included

struct ProcessInfo {
    DWORD pid = 0;
    std::wstring name;  // executable file name, e.g. "Pilotdeck.exe"
};

DWORD CurrentProcessId();
bool ProcessExists(std::wstring_view exeName);  // case-insensitive
std::vector<ProcessInfo> ListProcesses();
// Simulated processes: a name with a machine-wide pid. Removing by name removes every instance.
DWORD AddProcess(std::wstring_view exeName);
bool RemoveProcess(std::wstring_view exeName);

}  // namespace plat
