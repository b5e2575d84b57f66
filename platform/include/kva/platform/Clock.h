// The clock that owns every sleep, wait and time-out of the service.
//
// Three modes: real; scaled (a factor > 1 makes service time run faster than real time, for the
// demo); fake (time moves only when a test calls Advance). Every wait also watches the events it
// is given, typically the service's stop event, and ends as soon as one of them is set.
//
// In fake mode the clock knows how many threads are blocked in its waits, so a test can wait until
// the code under test is asleep, advance time, and wait again: a loop that sleeps 120 s is stepped
// deterministically without the test ever sleeping.
//
// Thread-safe. One clock per process (the port is one shared library).
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>

#include "kva/platform/Types.h"

namespace plat {

class CClock;

// A manual-reset event whose waits go through the clock (CreateEvent with manual reset).
class CEvent {
public:
    explicit CEvent(bool initiallySet = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    ~CEvent();

    void Set();
    void Reset();
    bool IsSet() const;

private:
    friend class CClock;
    bool m_bSet;  // guarded by the clock's lock
};

enum class WaitResult { Signaled, Timeout };

class CClock {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

    static CClock& Get();

    void UseReal();
    void UseScaled(double factor);
    // Fake time starts at `wallStart` (milliseconds since the Unix epoch) with a tick count of 1 h.
    void UseFake(std::int64_t wallStartMs = 1767225600000);  // 2026-01-01T00:00:00Z
    bool IsFake() const;
    double Scale() const;

    // Milliseconds since the clock's boot (GetTickCount64); the 32-bit tick wraps as Windows'.
    std::uint64_t TickCount64() const;
    std::uint32_t TickCount() const { return static_cast<std::uint32_t>(TickCount64()); }
    // High-resolution counter in microseconds (QueryPerformanceCounter at 1 MHz).
    std::int64_t PerformanceCounter() const;
    static constexpr std::int64_t PerformanceFrequency() { return 1000000; }
    // Wall time in milliseconds since the Unix epoch (time(), FILETIME and friends).
    std::int64_t WallMs() const;

    // Sleeps `ms` of service time. Returns false when `stop` (if given) was set before the time ran
    // out, true otherwise.
    bool Sleep(std::uint32_t ms, const CEvent* stop = nullptr);
    // Waits until any of `events` is set or `ms` passes (kInfinite: no time-out). `which` gets the
    // index of the set event.
    WaitResult Wait(std::initializer_list<const CEvent*> events, std::uint32_t ms,
                    int* which = nullptr);

    // Fake mode only. Advance moves time and wakes every wait whose time has come before it
    // returns, so the count of sleepers drops at once.
    void Advance(Ms by);
    std::size_t Sleepers() const;
    // Blocks (in real time, at most `realTimeout`) until at least `count` threads wait on the
    // clock. False on time-out.
    bool WaitForSleepers(std::size_t count, Ms realTimeout = Ms(10000)) const;
    // The earliest deadline among current waits, as milliseconds from now; -1 when none.
    std::int64_t NextDeadlineIn() const;

    // A thread started with a Tracked body counts as busy from the moment it is created until it
    // ends, except while it waits on the clock; a wait that Advance or an event ends makes it busy
    // again at once. So "no tracked thread is busy" means the code that owns those threads has done
    // all it can until time moves or an event comes: WaitUntilIdle waits (in real time, at most
    // `realTimeout`) for that. False on time-out.
    class CBusyToken;
    template <class F>
    auto Tracked(F body);
    std::size_t BusyThreads() const;
    bool WaitUntilIdle(Ms realTimeout = Ms(10000)) const;

    struct Impl;

private:
    friend class CEvent;
    CClock();
    std::unique_ptr<Impl> m_impl;
};

class CClock::CBusyToken {
public:
    explicit CBusyToken(CClock& clock);
    CBusyToken(CBusyToken&& other) noexcept
        : m_clock(std::exchange(other.m_clock, nullptr)), m_bAdopted(other.m_bAdopted) {}
    CBusyToken& operator=(CBusyToken&&) = delete;
    ~CBusyToken();
    // On the tracked thread, before its body runs: its waits on the clock now count as idle.
    void Adopt();

private:
    CClock* m_clock;
    bool m_bAdopted = false;
};

template <class F>
auto CClock::Tracked(F body) {
    return [token = CBusyToken(*this), body = std::move(body)]() mutable {
        token.Adopt();
        body();
    };
}

// Convenience for code that names the Windows calls.
inline std::uint32_t GetTickCount() { return CClock::Get().TickCount(); }
inline std::uint64_t GetTickCount64() { return CClock::Get().TickCount64(); }
inline bool Sleep(std::uint32_t ms, const CEvent* stop = nullptr) {
    return CClock::Get().Sleep(ms, stop);
}

}  // namespace plat
