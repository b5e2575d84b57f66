#include "kva/platform/Power.h"

#include <filesystem>

#include "../common/FactOverrides.h"
#include "../common/NearestFolder.h"
#include "Win32.h"
#include "kva/platform/Paths.h"

namespace plat {

bool GetPowerStatus(PowerStatus* status) {
    if (!status || facts::PowerCallFails()) return false;
    SYSTEM_POWER_STATUS native{};
    if (!::GetSystemPowerStatus(&native)) return false;
    PowerStatus st;
    st.ACLineStatus = native.ACLineStatus;
    st.BatteryFlag = native.BatteryFlag;
    st.BatteryLifePercent = native.BatteryLifePercent;
    // Older headers call the fourth byte Reserved1; it is the battery saver flag since Windows 10.
    st.SystemStatusFlag = reinterpret_cast<const BYTE*>(&native)[3];
    st.BatteryLifeTime = native.BatteryLifeTime;
    st.BatteryFullLifeTime = native.BatteryFullLifeTime;
    facts::ApplyPowerOverrides(&st);
    *status = st;
    return true;
}

bool GetDiskFreeSpace(std::string_view folder, std::uint64_t* freeToCaller, std::uint64_t* totalBytes,
                      std::uint64_t* totalFree) {
    const std::filesystem::path p = folders::NearestExistingFolder(ToHostPath(folder));
    ULARGE_INTEGER avail{}, total{}, free{};
    if (p.empty() || !::GetDiskFreeSpaceExW(p.wstring().c_str(), &avail, &total, &free)) {
        if (p.empty()) ::SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::uint64_t a = avail.QuadPart, f = free.QuadPart;
    facts::ApplyDiskOverride(&a, &f);
    if (freeToCaller) *freeToCaller = a;
    if (totalBytes) *totalBytes = total.QuadPart;
    if (totalFree) *totalFree = f;
    return true;
}

}  // namespace plat
