#pragma once

#include <cstdint>

// The last local midnight, in the seconds of `now` (a clock `zoneHours` behind local time).
std::int64_t DayStartOf(std::int64_t now, int zoneHours);
