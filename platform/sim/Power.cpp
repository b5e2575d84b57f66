#include "kva/platform/Power.h"

#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "../common/FactOverrides.h"
#include "../common/NearestFolder.h"

namespace plat {

namespace {

std::string ReadTrimmed(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string s;
    std::getline(in, s);
    return s;
}

using facts::ParseLong;

// Reads /sys/class/power_supply: the first battery's capacity and whether any mains supply is
// online. No battery leaves the status as Windows gives it for a desktop machine.
void ReadRealPower(PowerStatus* st) {
    const std::filesystem::path root = "/sys/class/power_supply";
    std::error_code ec;
    bool sawMains = false, mainsOnline = false;
    for (const auto& dev : std::filesystem::directory_iterator(root, ec)) {
        const std::string type = ReadTrimmed(dev.path() / "type");
        if (type == "Battery" && st->BatteryLifePercent == 255) {
            if (auto cap = ParseLong(ReadTrimmed(dev.path() / "capacity")); cap && *cap >= 0 && *cap <= 100) {
                st->BatteryLifePercent = static_cast<std::uint8_t>(*cap);
                st->BatteryFlag = *cap > 66 ? 1 : *cap < 33 ? 2 : 0;
            }
        } else if (type == "Mains" || type == "USB") {
            sawMains = true;
            mainsOnline = mainsOnline || ReadTrimmed(dev.path() / "online") == "1";
        }
    }
    st->ACLineStatus = sawMains ? (mainsOnline ? 1 : 0) : (st->BatteryLifePercent == 255 ? 1 : 255);
}

}  // namespace

bool GetPowerStatus(PowerStatus* status) {
    if (!status) return false;
    PowerStatus st;
    if (facts::PowerCallFails()) return false;
    ReadRealPower(&st);
    facts::ApplyPowerOverrides(&st);
    *status = st;
    return true;
}

bool GetDiskFreeSpace(std::string_view folder, std::uint64_t* freeToCaller, std::uint64_t* totalBytes,
                      std::uint64_t* totalFree) {
    const std::filesystem::path p = folders::NearestExistingFolder(ToHostPath(folder));
    struct statvfs vfs {};
    if (p.empty() || statvfs(p.c_str(), &vfs) != 0) {
        SetLastError(kErrorPathNotFound);
        return false;
    }
    std::uint64_t avail = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    std::uint64_t total = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    std::uint64_t free = static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
    facts::ApplyDiskOverride(&avail, &free);
    if (freeToCaller) *freeToCaller = avail;
    if (totalBytes) *totalBytes = total;
    if (totalFree) *totalFree = free;
    return true;
}

}  // namespace plat
