// The desktop and process list of the real machine. Windows this process creates belong to one
// window thread of the port, which pumps their messages; everything else asks user32 directly.
#include "kva/platform/Desktop.h"

#include "Win32.h"
#include <tlhelp32.h>

#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "kva/platform/Text.h"

namespace plat {

namespace {

constexpr UINT kRunOnThread = WM_APP + 1;
constexpr UINT kDestroySelf = WM_APP + 2;

::HWND Native(HWND h) { return reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(h)); }
HWND Ours(::HWND h) { return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(h)); }

LRESULT CALLBACK TopWindowProc(::HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kDestroySelf) {
        ::DestroyWindow(hwnd);
        return 1;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK RunnerProc(::HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunOnThread) {
        (*reinterpret_cast<std::function<void()>*>(lp))();
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

// The thread that owns our windows. It lives as long as the process: the port is never unloaded
// before the process ends, and joining it from a DLL's static destructors would deadlock on the
// loader lock.
class CWindowThread {
public:
    static CWindowThread& Get() {
        static CWindowThread* thread = new CWindowThread();
        return *thread;
    }

    // Runs `work` on the window thread and waits for it.
    void Run(const std::function<void()>& work) {
        std::function<void()> copy = work;
        ::SendMessageW(m_runner, kRunOnThread, 0, reinterpret_cast<LPARAM>(&copy));
    }

    DWORD ThreadId() const { return m_threadId; }

    // REQUIRES: on the window thread.
    bool EnsureClass(const std::wstring& name) {
        if (m_classes.count(name)) return true;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = TopWindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = name.c_str();
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        m_classes.insert(name);
        return true;
    }

private:
    CWindowThread() {
        std::promise<void> ready;
        m_thread = std::thread([this, &ready] { Pump(&ready); });
        ready.get_future().wait();
        m_thread.detach();
    }

    void Pump(std::promise<void>* ready) {
        m_threadId = ::GetCurrentThreadId();
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = RunnerProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KvaPlatformRunner";
        ::RegisterClassExW(&wc);
        m_runner = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, kWinHwndMessage, nullptr,
                                     wc.hInstance, nullptr);
        ready->set_value();
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    std::thread m_thread;
    ::HWND m_runner = nullptr;
    DWORD m_threadId = 0;
    std::set<std::wstring> m_classes;  // used on the window thread only
};

bool OnOurThread(HWND hwnd) {
    return hwnd && ::GetWindowThreadProcessId(Native(hwnd), nullptr) == CWindowThread::Get().ThreadId();
}

std::wstring ClassOf(::HWND h) {
    wchar_t buf[256];
    const int n = ::GetClassNameW(h, buf, 256);
    return std::wstring(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring TitleOf(::HWND h) {
    const int len = ::GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
    const int n = ::GetWindowTextW(h, text.data(), len + 1);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

bool EqualsNoCaseWide(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

BOOL CALLBACK CollectWindow(::HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<::HWND>*>(lp)->push_back(h);
    return TRUE;
}

BOOL CALLBACK FindProperty(::HWND, LPWSTR name, HANDLE, ULONG_PTR wanted) {
    // Atoms come as small integers rather than strings.
    if (reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF) return TRUE;
    auto* found = reinterpret_cast<std::pair<std::wstring, bool>*>(wanted);
    if (found->first == name) {
        found->second = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND CreateTopWindow(const WindowInfo& wanted) {
    // A window of another process cannot be made from here.
    if (wanted.processId != 0 && wanted.processId != CurrentProcessId()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ::HWND created = nullptr;
    ::DWORD error = ERROR_SUCCESS;
    auto& thread = CWindowThread::Get();
    thread.Run([&] {
        if (!thread.EnsureClass(wanted.className)) {
            error = ::GetLastError();
            return;
        }
        const Rect& r = wanted.rect;
        created = ::CreateWindowExW(WS_EX_TOOLWINDOW, wanted.className.c_str(), wanted.title.c_str(),
                                    WS_POPUP | (wanted.visible ? WS_VISIBLE : 0), r.left, r.top, r.right - r.left,
                                    r.bottom - r.top, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (!created) error = ::GetLastError();
    });
    if (!created) ::SetLastError(error);
    return Ours(created);
}

bool DestroyTopWindow(HWND hwnd) {
    // Only windows of ours: another process's window is not ours to destroy.
    if (!OnOurThread(hwnd)) return false;
    return ::SendMessageW(Native(hwnd), kDestroySelf, 0, 0) == 1;
}

bool IsWindowAlive(HWND hwnd) { return hwnd && ::IsWindow(Native(hwnd)); }

bool IsWindowShown(HWND hwnd) { return hwnd && ::IsWindowVisible(Native(hwnd)); }

bool ShowTopWindow(HWND hwnd, bool visible) {
    if (!IsWindowAlive(hwnd) || hwnd == DesktopWindow() || hwnd == ShellWindow()) return false;
    ::ShowWindow(Native(hwnd), visible ? SW_SHOWNA : SW_HIDE);
    return true;
}

bool SetWindowRect(HWND hwnd, const Rect& r) {
    if (hwnd == DesktopWindow() || hwnd == ShellWindow()) return false;
    return ::SetWindowPos(Native(hwnd), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                          SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool SetWindowTitle(HWND hwnd, std::wstring_view title) {
    return hwnd && ::SetWindowTextW(Native(hwnd), win32::Z(title).c_str()) != FALSE;
}

std::optional<WindowInfo> GetWindowInfo(HWND hwnd) {
    if (!IsWindowAlive(hwnd)) return std::nullopt;
    const ::HWND h = Native(hwnd);
    WindowInfo w;
    w.hwnd = hwnd;
    w.className = ClassOf(h);
    w.title = TitleOf(h);
    w.visible = ::IsWindowVisible(h) != FALSE;
    RECT r{};
    ::GetWindowRect(h, &r);
    w.rect = Rect{r.left, r.top, r.right, r.bottom};
    w.processId = GetWindowProcessId(hwnd);
    return w;
}

HWND FindTopWindow(std::wstring_view className, std::wstring_view title) {
    const std::wstring cls(className), text(title);
    return Ours(::FindWindowW(cls.empty() ? nullptr : cls.c_str(), text.empty() ? nullptr : text.c_str()));
}

HWND WindowAtPoint(std::int32_t x, std::int32_t y) {
    const ::HWND child = ::WindowFromPoint(POINT{x, y});
    const ::HWND top = child ? ::GetAncestor(child, GA_ROOT) : nullptr;
    if (!top || top == ::GetDesktopWindow()) return ShellWindow() ? ShellWindow() : DesktopWindow();
    return Ours(top);
}

DWORD GetWindowProcessId(HWND hwnd) {
    ::DWORD pid = 0;
    if (hwnd) ::GetWindowThreadProcessId(Native(hwnd), &pid);
    return pid;
}

HWND DesktopWindow() { return Ours(::GetDesktopWindow()); }

HWND ShellWindow() { return Ours(::GetShellWindow()); }

HWND ForegroundWindow() {
    const ::HWND h = ::GetForegroundWindow();
    return h ? Ours(h) : ShellWindow();
}

bool SetForegroundWindow(HWND hwnd) { return hwnd && ::SetForegroundWindow(Native(hwnd)) != FALSE; }

bool SetWindowProperty(HWND hwnd, std::string_view name, std::int64_t value) {
    if (!IsWindowAlive(hwnd)) return false;
    return ::SetPropW(Native(hwnd), FromUtf8(name).c_str(),
                      reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value))) != FALSE;
}

std::optional<std::int64_t> GetWindowProperty(HWND hwnd, std::string_view name) {
    if (!IsWindowAlive(hwnd)) return std::nullopt;
    const std::wstring wide = FromUtf8(name);
    if (HANDLE v = ::GetPropW(Native(hwnd), wide.c_str())) {
        return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(v));
    }
    // A null handle is both "absent" and a stored 0: look the name up to tell them apart.
    std::pair<std::wstring, bool> found{wide, false};
    ::EnumPropsExW(Native(hwnd), FindProperty, reinterpret_cast<LPARAM>(&found));
    if (found.second) return 0;
    return std::nullopt;
}

std::vector<WindowInfo> ListWindows() {
    std::vector<::HWND> handles;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&handles));
    handles.push_back(::GetDesktopWindow());
    std::vector<WindowInfo> out;
    for (::HWND h : handles) {
        if (auto w = GetWindowInfo(Ours(h))) out.push_back(std::move(*w));
    }
    return out;
}

DWORD CurrentProcessId() { return ::GetCurrentProcessId(); }

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> out;
    win32::CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return out;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry)) {
        out.push_back(ProcessInfo{entry.th32ProcessID, entry.szExeFile});
    }
    return out;
}

bool ProcessExists(std::wstring_view exeName) {
    for (const auto& p : ListProcesses()) {
        if (EqualsNoCaseWide(p.name, exeName)) return true;
    }
    return false;
}

// A real machine's process list is not ours to invent or prune.
DWORD AddProcess(std::wstring_view) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

bool RemoveProcess(std::wstring_view) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

}  // namespace plat
