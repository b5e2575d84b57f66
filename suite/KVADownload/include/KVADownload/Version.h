// Version comparison of dotted numeric versions ("10.0.22621.1", "1.2" == "1.2.0").
#pragma once

#include <string>

#include "KVADownload/UpdateInfo.h"

// local = installed version (empty: nothing installed), offered = the service's version.
// Returns a _VERSION_COMPARE_RESULT: 2 when the offered version is newer.
int CompareVersion(const std::string& local, const std::string& offered);
