// What the clock needs from the operating system: real time since boot, wall time and a
// high-resolution monotonic counter. Each backend provides these; the clock's logic (modes,
// scaling, the fake clock's sleepers) is shared. Internal to the platform library.
#pragma once

#include <cstdint>

namespace plat::clocksource {

// Milliseconds since the machine started (the tick count's origin).
std::int64_t UptimeMs();
// Milliseconds since the Unix epoch.
std::int64_t WallMs();

}  // namespace plat::clocksource
