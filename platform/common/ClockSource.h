// What the clock needs from the operating system: real time since boot, wall time and a
// high-resolution monotonic counter, and the way a thread waits in real time. Each backend
// provides these; the clock's logic (modes, scaling, the fake clock's sleepers) is shared.
// Internal to the platform library.
#pragma once

#include <chrono>
#include <cstdint>

#include "kva/platform/Mutex.h"

namespace plat::clocksource {

// Milliseconds since the machine started (the tick count's origin).
std::int64_t UptimeMs();
// Milliseconds since the Unix epoch.
std::int64_t WallMs();

// A thread's means of waiting in real or scaled time (fake time waits on the clock's condition).
// Backends without their own use the condition and need no waiter (nullptr).
struct RealWaiter;
RealWaiter* ThisThreadsWaiter();
// Ends the waiter's current or next wait; the clock's lock is held.
void Wake(RealWaiter* waiter);
// Releases `lock` until Wake, a notification of `cv` (backends without a waiter), or the real
// instant `until` (time_point::max(): none); holds it again on return. May return early.
void WaitUntil(RealWaiter* waiter, std::unique_lock<CMutex>& lock, CCondition& cv,
               std::chrono::steady_clock::time_point until);

}  // namespace plat::clocksource
