// Child processes with CreateProcess and an anonymous pipe for their standard output. Windows has
// no SIGTERM: a child started here gets its own process group, and Stop sends it CTRL_BREAK (the
// console's "please stop"), ending it for good only when it does not stop in time. Stop signals
// of this process are the console's control events.
#include "kva/platform/Process.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "Win32.h"
#include "kva/platform/Text.h"
#include "../common/RunToEnd.h"

namespace plat {

namespace {

constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;

// Quotes one argument so that CommandLineToArgvW (and the C runtime) give it back unchanged.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    out += L'"';
    return out;
}

}  // namespace

struct CChildProcess::Impl {
    win32::CHandle process;
    win32::CHandle out;  // read end of the child's standard output
    DWORD pid = 0;
    std::string buffered;
    int exitCode = -1;

    // Collects the exit code once the child has ended; true when it has (or there is none).
    bool Reap(::DWORD waitMs) {
        if (!process) return true;
        if (::WaitForSingleObject(process.Get(), waitMs) != WAIT_OBJECT_0) return false;
        ::DWORD code = 0;
        ::GetExitCodeProcess(process.Get(), &code);
        exitCode = static_cast<int>(code);
        process.Reset();
        return true;
    }

    bool WaitFor(std::chrono::milliseconds realTimeout) {
        const auto ms = std::clamp<std::int64_t>(realTimeout.count(), 0, INFINITE - 1);
        return Reap(static_cast<::DWORD>(ms));
    }
};

CChildProcess::CChildProcess() : m_impl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess() {
    if (m_impl->process) {
        ::TerminateProcess(m_impl->process.Get(), 1);
        m_impl->Reap(INFINITE);
    }
}

bool CChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args) {
    if (m_impl->process) return false;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    win32::CHandle reader(readEnd), writer(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);  // only the write end goes to the child

    std::wstring commandLine = Quote(program.wstring());
    for (const auto& a : args) commandLine += L" " + Quote(FromUtf8(a));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    ::CloseHandle(pi.hThread);
    m_impl->process.Reset(pi.hProcess);
    m_impl->pid = pi.dwProcessId;
    m_impl->out = std::move(reader);
    m_impl->buffered.clear();
    m_impl->exitCode = -1;
    return true;
}

bool CChildProcess::Running() { return !m_impl->Reap(0); }

int CChildProcess::Pid() const { return m_impl->process ? static_cast<int>(m_impl->pid) : -1; }

bool CChildProcess::ReadLine(std::string* line, std::chrono::milliseconds realTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        const auto nl = m_impl->buffered.find('\n');
        if (nl != std::string::npos) {
            *line = m_impl->buffered.substr(0, nl);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            m_impl->buffered.erase(0, nl + 1);
            return true;
        }
        if (!m_impl->out) return false;
        // An anonymous pipe cannot be waited on: look whether bytes are there, else nap briefly.
        ::DWORD available = 0;
        const bool alive = ::PeekNamedPipe(m_impl->out.Get(), nullptr, 0, nullptr, &available, nullptr) != FALSE;
        if (alive && available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        char buf[4096];
        ::DWORD got = 0;
        if (!alive || !::ReadFile(m_impl->out.Get(), buf, sizeof(buf), &got, nullptr) || got == 0) {
            m_impl->out.Reset();  // the child closed its output
            if (m_impl->buffered.empty()) return false;
            *line = std::move(m_impl->buffered);
            m_impl->buffered.clear();
            return true;
        }
        m_impl->buffered.append(buf, got);
    }
}

int CChildProcess::Stop(std::chrono::milliseconds realTimeout) {
    if (m_impl->process) {
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, m_impl->pid);
        if (!m_impl->WaitFor(realTimeout)) {
            ::TerminateProcess(m_impl->process.Get(), 128 + kSigTerm);
            m_impl->Reap(INFINITE);
        }
    }
    return m_impl->exitCode;
}

int CChildProcess::Wait(std::chrono::milliseconds realTimeout) {
    return m_impl->WaitFor(realTimeout) ? m_impl->exitCode : -1;
}

int RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args, std::string* output,
               std::chrono::milliseconds realTimeout) {
    std::filesystem::path path = program;
    if (!program.has_parent_path()) {
        wchar_t found[MAX_PATH];
        if (::SearchPathW(nullptr, program.wstring().c_str(), L".exe", MAX_PATH, found, nullptr)) path = found;
    }
    return detail::RunToEnd(path, args, output, realTimeout);
}

namespace {

// Set by the console's control handler (any thread); never destroyed, as the handler may run
// while the process ends.
struct StopSignals {
    win32::CHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> signal{0};
};

StopSignals& Signals() {
    static StopSignals* s = new StopSignals();
    return *s;
}

BOOL WINAPI OnConsoleControl(::DWORD type) {
    StopSignals& s = Signals();
    int expected = 0;
    s.signal.compare_exchange_strong(expected, type == CTRL_C_EVENT ? kSigInt : kSigTerm);
    ::SetEvent(s.event.Get());
    return TRUE;
}

}  // namespace

void CatchStopSignals() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

int WaitForStopSignal() {
    CatchStopSignals();
    StopSignals& s = Signals();
    ::WaitForSingleObject(s.event.Get(), INFINITE);
    return s.signal.load();
}

void RaiseStopSignal() {
    StopSignals& s = Signals();
    int expected = 0;
    s.signal.compare_exchange_strong(expected, kSigTerm);
    ::SetEvent(s.event.Get());
}

// An elevated token is Windows' superuser: what an administrator's process runs as after consent.
bool IsSuperUser() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    win32::CHandle owned(token);
    TOKEN_ELEVATION elevation{};
    ::DWORD size = sizeof(elevation);
    return ::GetTokenInformation(token, TokenElevation, &elevation, size, &size) && elevation.TokenIsElevated != 0;
}

namespace {

constexpr long kNothingInTime = -1;
constexpr long kReadError = -2;

// A pipe cannot be waited on: it is polled for bytes, a few milliseconds apart.
long WaitForPipe(HANDLE in, std::size_t size, std::chrono::milliseconds realTimeout, ::DWORD* ready) {
    const auto until = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        ::DWORD available = 0;
        if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
            return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : kReadError;
        }
        if (available > 0) {
            *ready = static_cast<::DWORD>(std::min<std::size_t>(available, size));
            return 1;
        }
        if (std::chrono::steady_clock::now() >= until) return kNothingInTime;
        ::Sleep(10);
    }
}

}  // namespace

long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds realTimeout) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return 0;  // no standard input: at its end
    ::DWORD want = static_cast<::DWORD>(std::min<std::size_t>(size, 1u << 30));
    switch (::GetFileType(in)) {
        case FILE_TYPE_PIPE: {
            const long state = WaitForPipe(in, want, realTimeout, &want);
            if (state != 1) return state;
            break;
        }
        case FILE_TYPE_CHAR: {
            // A console's handle is signalled while it holds input.
            const auto ms = std::clamp<std::int64_t>(realTimeout.count(), 0, INFINITE - 1);
            const ::DWORD rc = ::WaitForSingleObject(in, static_cast<::DWORD>(ms));
            if (rc == WAIT_TIMEOUT) return kNothingInTime;
            if (rc != WAIT_OBJECT_0) return kReadError;
            break;
        }
        default:
            break;  // a file never keeps a reader waiting
    }
    ::DWORD got = 0;
    if (::ReadFile(in, buffer, want, &got, nullptr)) return static_cast<long>(got);
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : kReadError;
}

}  // namespace plat
