// How a package description becomes a download request and a package-table entry. Pure helpers
// shared by the download flows, the driver check and the diagnose-tool download; any thread.
#pragma once

#include <string>

#include "KVADownload/UpdateInfo.h"
#include "driver_update/UpdateRecords.h"

namespace driver_update {

// "<download folder of id and version>\\update.zip" (the folder is created on the way).
std::string DownloadTargetFile(const std::string& id, const std::string& nextVersion);

// The request of `record` for a download of `updateType`, filed under `id` (the record's own id for
// packages, "0" for the application). strSN carries the serial-number JSON for version type "2",
// and "involvedA" for packages of the involved group (that one wins).
download_param MakeDownloadParam(const _TOBEUPDATE_DRIVER_INFO& record, int updateType, const std::string& id);

// Copies what the tables keep of an offered package into its entry; state, installer path and
// downloadedThisRun are left alone.
void CopyRecordToEntry(const _TOBEUPDATE_DRIVER_INFO& record, enmUPGRADE_DRIVER_INFO& entry);

}  // namespace driver_update
