#include "../common/ClockSource.h"

#include "Win32.h"

namespace plat::clocksource {

std::int64_t UptimeMs() {
    // The performance counter counts from boot; its frequency is fixed at boot.
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);
        return static_cast<std::int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const std::int64_t ticks = now.QuadPart;
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

std::int64_t WallMs() {
    FILETIME ft{};
    ::GetSystemTimePreciseAsFileTime(&ft);
    ULARGE_INTEGER t{};
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // FILETIME counts 100 ns steps from 1601-01-01.
    constexpr std::uint64_t kEpochDiff100ns = 116444736000000000ull;
    return static_cast<std::int64_t>((t.QuadPart - kEpochDiff100ns) / 10000);
}

}  // namespace plat::clocksource

namespace plat::clocksource {

// Each waiting thread has an auto-reset event that wakers set, and a waitable timer for its
// deadline (high resolution where Windows has it), so a real wait is one WaitForMultipleObjects.
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803), which mingw-w64's headers lack.
constexpr ::DWORD kHighResolutionTimer = 0x00000002;

struct RealWaiter {
    win32::CHandle wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    win32::CHandle timer{NewTimer()};

    static HANDLE NewTimer() {
        HANDLE t = ::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer,
                                            TIMER_ALL_ACCESS);
        return t ? t : ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
    }
};

RealWaiter* ThisThreadsWaiter() {
    thread_local RealWaiter waiter;
    return waiter.wake && waiter.timer ? &waiter : nullptr;
}

void Wake(RealWaiter* waiter) {
    if (waiter) ::SetEvent(waiter->wake.Get());
}

void WaitUntil(RealWaiter* waiter, std::unique_lock<CMutex>& lock, CCondition& cv,
               std::chrono::steady_clock::time_point until) {
    using Steady = std::chrono::steady_clock;
    const bool forever = until == Steady::time_point::max();
    if (!waiter) {  // no handles for this thread: the clock's condition still works
        if (forever) {
            cv.wait(lock);
        } else {
            cv.wait_until(lock, until);
        }
        return;
    }
    HANDLE handles[2] = {waiter->wake.Get(), waiter->timer.Get()};
    ::DWORD count = 1;
    if (!forever) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Steady::now()).count();
        if (left <= 0) return;
        LARGE_INTEGER due{};
        due.QuadPart = -((left + 99) / 100);  // negative: relative, in 100 ns steps
        if (::SetWaitableTimer(waiter->timer.Get(), &due, 0, nullptr, nullptr, FALSE)) count = 2;
    }
    lock.unlock();
    ::WaitForMultipleObjects(count, handles, FALSE, count == 2 || forever ? INFINITE : 1);
    lock.lock();
    if (count == 2) ::CancelWaitableTimer(waiter->timer.Get());
}

}  // namespace plat::clocksource
