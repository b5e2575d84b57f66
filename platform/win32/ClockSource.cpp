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
