#include "../common/ClockSource.h"

#include <time.h>

#include <chrono>

namespace plat::clocksource {

std::int64_t UptimeMs() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Real waits share the clock's condition: every wake-up notifies it.
RealWaiter* ThisThreadsWaiter() { return nullptr; }

void Wake(RealWaiter*) {}

void WaitUntil(RealWaiter*, std::unique_lock<CMutex>& lock, CCondition& cv,
               std::chrono::steady_clock::time_point until) {
    if (until == std::chrono::steady_clock::time_point::max()) {
        cv.wait(lock);
    } else {
        cv.wait_until(lock, until);
    }
}

}  // namespace plat::clocksource
