// Power status and free disk space.
#pragma once

#include <cstdint>
#include <string_view>

#include "kva/platform/Types.h"

namespace plat {

struct PowerStatus {
    std::uint8_t ACLineStatus = 255;        // 0 offline, 1 online, 255 unknown
    std::uint8_t BatteryFlag = 128;         // 128: no system battery
    std::uint8_t BatteryLifePercent = 255;  // 0..100, 255 when there is no battery
    std::uint8_t SystemStatusFlag = 0;
    DWORD BatteryLifeTime = 0xFFFFFFFF;
    DWORD BatteryFullLifeTime = 0xFFFFFFFF;
};

// Overrides "battery" (0..100 or 255) and "ac" (0 or 1) take precedence over
// /sys/class/power_supply.
bool GetPowerStatus(PowerStatus* status);

// Free bytes for the caller on the volume holding `folder` (a Windows or host path). The folder
// need not exist yet: its nearest existing ancestor is asked. The "disk-free" override wins.
bool GetDiskFreeSpace(std::string_view folder, std::uint64_t* freeToCaller,
                      std::uint64_t* totalBytes = nullptr, std::uint64_t* totalFree = nullptr);

}  // namespace plat
