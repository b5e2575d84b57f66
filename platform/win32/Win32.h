// The Windows headers, once, for the Win32 backend, and the helpers its files share. Windows.h
// defines some of the port's function names as macros (RegOpenKey -> RegOpenKeyW ...); they are
// removed here so the port's own definitions keep their names. Internal to the platform library.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "kva/platform/Log.h"
#include "kva/platform/Text.h"

#undef RegOpenKey
#undef RegCreateKey
#undef RegDeleteValue
#undef RegDeleteTree
#undef GetDiskFreeSpace
#undef OutputDebugString
#undef CreateEvent
#undef GetWindowInfo
#undef FreeModule

// Windows' own constants, named outside namespace plat: inside it, the macros' casts to HKEY and
// HWND would pick the port's integer types of the same names.
inline const HKEY kWinHKeyLocalMachine = HKEY_LOCAL_MACHINE;
inline const HKEY kWinHKeyUsers = HKEY_USERS;
inline const HWND kWinHwndMessage = HWND_MESSAGE;

namespace plat::win32 {

// Closes a kernel handle when it goes out of scope.
class CHandle {
public:
    CHandle() = default;
    explicit CHandle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    CHandle(CHandle&& o) noexcept : m_h(o.Release()) {}
    CHandle& operator=(CHandle&& o) noexcept {
        Reset(o.Release());
        return *this;
    }
    ~CHandle() { Reset(); }

    HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    HANDLE Release() {
        HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }
    void Reset(HANDLE h = nullptr) {
        if (m_h) ::CloseHandle(m_h);
        m_h = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

private:
    HANDLE m_h = nullptr;
};

// A wide string as a null-terminated buffer for the API (string_views need not be terminated).
inline std::wstring Z(std::wstring_view s) { return std::wstring(s); }

// The system's words for an error code (GetLastError, WSAGetLastError), in UTF-8.
inline std::string SystemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
    ::LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.')) words.pop_back();
    return ToUtf8(words);
}

// For the calls that exist for the simulated machine and answer "nothing" on a real one: the first
// of them to be called says in the log why, naming itself.
class CFirstCallNotice {
public:
    explicit constexpr CFirstCallNotice(const char* why) : m_why(why) {}

    void Say(const char* call) {
        if (!m_said.exchange(true)) KVA_LOG_ERROR(call << ": " << m_why);
    }

private:
    std::atomic<bool> m_said{false};
    const char* m_why;
};

}  // namespace plat::win32
