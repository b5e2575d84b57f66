// The overridable facts both backends apply on top of what the machine reports, so
// `kva machine set battery 20` means the same everywhere. Internal to the platform library.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kva/platform/Power.h"

namespace plat::facts {

std::optional<long> ParseLong(const std::optional<std::string>& s);
// "power-fail" = 1 makes the status call fail.
bool PowerCallFails();
// "battery" (0..100, 255 none) and "ac" (0, 1, 255).
void ApplyPowerOverrides(PowerStatus* st);
// "disk-free" (bytes) replaces the free figures.
void ApplyDiskOverride(std::uint64_t* freeToCaller, std::uint64_t* totalFree);

}  // namespace plat::facts
