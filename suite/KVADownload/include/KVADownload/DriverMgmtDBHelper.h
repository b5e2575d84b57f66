// The update history: one row per finished install, in an SQLite database under the suite's data
// folder ("\\DriverUpgrade\\UpdateHistory.db"). Each insert is one transaction, so a process killed
// mid-write loses nothing already recorded. Thread-safe; the database is opened per call, so a
// process that changes machines (tests) writes to the right one.
#pragma once

#include <string>
#include <vector>

#include "KVADownload/UpdateInfo.h"

class DriverMgmtDBHelper {
public:
    // The process-wide helper; null only when it cannot exist (never on this build).
    static DriverMgmtDBHelper* GetInstance();

    bool InsertFinishedUpdateItems(finished_update_package& item);
    // Newest first; at most `limit` rows.
    std::vector<finished_update_package> GetFinishedUpdateItems(int limit = 1000);

private:
    DriverMgmtDBHelper() = default;
};
