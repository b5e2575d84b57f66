// A read-only view of the service's package tables for tools (`kva demo`): after every check and
// every change a download brings, the tables are written as JSON to
// GetAppDataFolder() + kPackageTablesFile, replaced whole, so a reader never sees half a file:
//
//   { "forced": { "<id>": {"name", "next", "size", "state", "installFile", "downloadedThisRun"} },
//     "idle":   { ... same ... },
//     "notice": [ {"id", "name", "next"}, ... ],
//     "service": {"freeScene", "manualUpdateRunning", "synergyBusy", "appSetupRunning", "writtenAt"} }
//
// The service never reads it back.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "driver_update/UpdateRecords.h"

namespace driver_update {

inline constexpr char kPackageTablesFile[] = "\\DriverUpgrade\\PackageTables.json";

using PackageTableCopy = std::map<std::string, enmUPGRADE_DRIVER_INFO>;

// The service's flags as the view shows them; writtenAt is the clock's wall time in seconds.
struct CServiceFlagsView {
    bool freeScene = true;
    bool manualUpdateRunning = false;
    bool synergyBusy = false;
    bool appSetupRunning = false;
    std::int64_t writtenAt = 0;
};

std::string PackageTablesJson(const PackageTableCopy& forced, const PackageTableCopy& idle,
                              const std::vector<_TOBEUPDATE_DRIVER_INFO>& notice,
                              const CServiceFlagsView& flags = {});
// Writes the text beside the final file and renames it over; false when it cannot.
bool WritePackageTablesFile(const std::string& json);

}  // namespace driver_update
