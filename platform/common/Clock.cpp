#include "kva/platform/Clock.h"
#include "kva/platform/Mutex.h"

#include <algorithm>
#include <limits>
#include <list>
#include <vector>

#include "ClockSource.h"

namespace plat {

namespace {

using Steady = std::chrono::steady_clock;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
// Set on a thread started with CClock::Tracked while its body runs.
thread_local bool t_bTracked = false;

std::int64_t RealUptimeMs() { return clocksource::UptimeMs(); }
std::int64_t RealWallMs() { return clocksource::WallMs(); }

}  // namespace

struct CClock::Impl {
    enum class Mode { Real, Scaled, Fake };

    struct Waiter {
        std::vector<const CEvent*> events;
        std::int64_t deadline = kNever;  // in tick milliseconds
        bool woken = false;
        bool tracked = false;
        int which = -1;
        clocksource::RealWaiter* real = clocksource::ThisThreadsWaiter();
    };

    mutable CMutex mtx;
    mutable CCondition cv;
    Mode mode KVA_GUARDED_BY(mtx) = Mode::Real;
    double scale KVA_GUARDED_BY(mtx) = 1.0;
    // Tick and wall time at the moment the mode was set, and the real instant of that moment.
    Steady::time_point realBase KVA_GUARDED_BY(mtx) = Steady::now();
    std::int64_t tickBase KVA_GUARDED_BY(mtx) = RealUptimeMs();
    std::int64_t wallBase KVA_GUARDED_BY(mtx) = RealWallMs();
    std::int64_t fakeTick KVA_GUARDED_BY(mtx) = 0;
    std::list<Waiter*> waiters KVA_GUARDED_BY(mtx);
    std::size_t busy KVA_GUARDED_BY(mtx) = 0;  // tracked threads not waiting on the clock

    std::int64_t TickLocked() const KVA_REQUIRES(mtx) {
        if (mode == Mode::Fake) return fakeTick;
        const auto real = std::chrono::duration<double, std::milli>(Steady::now() - realBase).count();
        return tickBase + static_cast<std::int64_t>(real * scale);
    }

    std::int64_t WallLocked() const KVA_REQUIRES(mtx) {
        if (mode == Mode::Real) return RealWallMs();
        return wallBase + (TickLocked() - tickBase);
    }

    Steady::time_point RealInstantOf(std::int64_t tick) const KVA_REQUIRES(mtx) {
        const double realMs = static_cast<double>(tick - tickBase) / scale;
        if (realMs > 1e12) return Steady::time_point::max();
        return realBase + std::chrono::duration_cast<Steady::duration>(
                              std::chrono::duration<double, std::milli>(realMs));
    }

    void Rebase(Mode newMode, double newScale) KVA_REQUIRES(mtx) {
        tickBase = TickLocked();
        wallBase = WallLocked();
        realBase = Steady::now();
        mode = newMode;
        scale = newScale;
        if (mode == Mode::Fake) fakeTick = tickBase;
        // Every waiter looks again: its deadline is another real instant now, or fake time.
        for (Waiter* w : waiters) clocksource::Wake(w->real);
        cv.notify_all();
    }

    void Wake(Waiter& w) KVA_REQUIRES(mtx) {
        w.woken = true;
        if (w.tracked) ++busy;
    }

    // Wakes waiters whose deadline has come.
    void WakeExpired() KVA_REQUIRES(mtx) {
        const std::int64_t now = TickLocked();
        for (Waiter* w : waiters) {
            if (!w->woken && w->deadline <= now) Wake(*w);
        }
    }

    void WakeEvent(const CEvent* ev) KVA_REQUIRES(mtx) {
        for (Waiter* w : waiters) {
            if (w->woken) continue;
            auto it = std::find(w->events.begin(), w->events.end(), ev);
            if (it != w->events.end()) {
                Wake(*w);
                w->which = static_cast<int>(it - w->events.begin());
                clocksource::Wake(w->real);
            }
        }
    }

    std::size_t AsleepLocked() const KVA_REQUIRES(mtx) {
        return static_cast<std::size_t>(
            std::count_if(waiters.begin(), waiters.end(), [](const Waiter* w) { return !w->woken; }));
    }
};

CClock& CClock::Get() {
    // Never destroyed: threads of unloading modules may still ask it for the time.
    static CClock* clock = new CClock();
    return *clock;
}

CClock::CClock() : m_impl(std::make_unique<Impl>()) {}

void CClock::UseReal() {
    std::lock_guard lock(m_impl->mtx);
    m_impl->Rebase(Impl::Mode::Real, 1.0);
    m_impl->tickBase = RealUptimeMs();
    m_impl->wallBase = RealWallMs();
}

void CClock::UseScaled(double factor) {
    std::lock_guard lock(m_impl->mtx);
    m_impl->Rebase(Impl::Mode::Scaled, factor > 0 ? factor : 1.0);
}

void CClock::UseFake(std::int64_t wallStartMs) {
    std::lock_guard lock(m_impl->mtx);
    m_impl->Rebase(Impl::Mode::Fake, 1.0);
    m_impl->fakeTick = m_impl->tickBase = 3600000;
    m_impl->wallBase = wallStartMs;
}

bool CClock::IsFake() const {
    std::lock_guard lock(m_impl->mtx);
    return m_impl->mode == Impl::Mode::Fake;
}

double CClock::Scale() const {
    std::lock_guard lock(m_impl->mtx);
    return m_impl->scale;
}

std::uint64_t CClock::TickCount64() const {
    std::lock_guard lock(m_impl->mtx);
    return static_cast<std::uint64_t>(m_impl->TickLocked());
}

std::int64_t CClock::PerformanceCounter() const {
    std::lock_guard lock(m_impl->mtx);
    if (m_impl->mode == Impl::Mode::Fake) return m_impl->fakeTick * 1000;
    const auto real = std::chrono::duration<double, std::micro>(Steady::now() - m_impl->realBase).count();
    return m_impl->tickBase * 1000 + static_cast<std::int64_t>(real * m_impl->scale);
}

std::int64_t CClock::WallMs() const {
    std::lock_guard lock(m_impl->mtx);
    return m_impl->WallLocked();
}

bool CClock::Sleep(std::uint32_t ms, const CEvent* stop) {
    if (!stop) return Wait({}, ms) == WaitResult::Timeout;
    return Wait({stop}, ms) == WaitResult::Timeout;
}

WaitResult CClock::Wait(std::initializer_list<const CEvent*> events, std::uint32_t ms, int* which) {
    std::unique_lock lock(m_impl->mtx);
    Impl::Waiter self;
    for (const CEvent* ev : events) {
        if (!ev) continue;
        if (ev->m_bSet) {
            if (which) *which = static_cast<int>(self.events.size());
            return WaitResult::Signaled;
        }
        self.events.push_back(ev);
    }
    if (ms == 0) return WaitResult::Timeout;
    self.deadline = ms == kInfinite ? kNever : m_impl->TickLocked() + ms;
    self.tracked = t_bTracked;
    if (self.tracked) --m_impl->busy;
    auto pos = m_impl->waiters.insert(m_impl->waiters.end(), &self);
    m_impl->cv.notify_all();  // WaitForSleepers watches the count
    while (!self.woken) {
        if (m_impl->mode == Impl::Mode::Fake) {
            m_impl->cv.wait(lock);
        } else {
            // Real and scaled time wait the backend's way (on Windows, a waitable timer and event).
            const auto until =
                self.deadline == kNever ? Steady::time_point::max() : m_impl->RealInstantOf(self.deadline);
            clocksource::WaitUntil(self.real, lock, m_impl->cv, until);
            if (!self.woken && m_impl->TickLocked() >= self.deadline) m_impl->Wake(self);
        }
    }
    m_impl->waiters.erase(pos);
    if (self.which >= 0) {
        if (which) *which = self.which;
        return WaitResult::Signaled;
    }
    return WaitResult::Timeout;
}

void CClock::Advance(Ms by) {
    std::lock_guard lock(m_impl->mtx);
    if (m_impl->mode != Impl::Mode::Fake) return;
    m_impl->fakeTick += by.count();
    m_impl->WakeExpired();
    m_impl->cv.notify_all();
}

std::size_t CClock::Sleepers() const {
    std::lock_guard lock(m_impl->mtx);
    return m_impl->AsleepLocked();
}

bool CClock::WaitForSleepers(std::size_t count, Ms realTimeout) const {
    std::unique_lock lock(m_impl->mtx);
    Impl& impl = *m_impl;
    return impl.cv.wait_for(lock, realTimeout, [&]() KVA_REQUIRES(impl.mtx) { return impl.AsleepLocked() >= count; });
}

std::size_t CClock::BusyThreads() const {
    std::lock_guard lock(m_impl->mtx);
    return m_impl->busy;
}

bool CClock::WaitUntilIdle(Ms realTimeout) const {
    std::unique_lock lock(m_impl->mtx);
    Impl& impl = *m_impl;
    return impl.cv.wait_for(lock, realTimeout, [&]() KVA_REQUIRES(impl.mtx) { return impl.busy == 0; });
}

CClock::CBusyToken::CBusyToken(CClock& clock) : m_clock(&clock) {
    std::lock_guard lock(clock.m_impl->mtx);
    ++clock.m_impl->busy;
}

CClock::CBusyToken::~CBusyToken() {
    if (!m_clock) return;
    if (m_bAdopted) t_bTracked = false;
    Impl& impl = *m_clock->m_impl;
    {
        std::lock_guard lock(impl.mtx);
        --impl.busy;
    }
    impl.cv.notify_all();
}

void CClock::CBusyToken::Adopt() {
    m_bAdopted = true;
    t_bTracked = true;
}

std::int64_t CClock::NextDeadlineIn() const {
    std::lock_guard lock(m_impl->mtx);
    std::int64_t best = kNever;
    for (const Impl::Waiter* w : m_impl->waiters) {
        if (!w->woken) best = std::min(best, w->deadline);
    }
    return best == kNever ? -1 : std::max<std::int64_t>(0, best - m_impl->TickLocked());
}

CEvent::CEvent(bool initiallySet) : m_bSet(initiallySet) {}
CEvent::~CEvent() = default;

void CEvent::Set() {
    auto& impl = *CClock::Get().m_impl;
    {
        std::lock_guard lock(impl.mtx);
        m_bSet = true;
        impl.WakeEvent(this);
    }
    impl.cv.notify_all();  // after unlocking, so woken waiters do not block on the lock at once
}

void CEvent::Reset() {
    std::lock_guard lock(CClock::Get().m_impl->mtx);
    m_bSet = false;
}

bool CEvent::IsSet() const {
    std::lock_guard lock(CClock::Get().m_impl->mtx);
    return m_bSet;
}

}  // namespace plat
