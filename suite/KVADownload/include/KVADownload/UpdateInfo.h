// Records that cross the download library's boundary: what the update service offers, what a
// download request carries, what a completion callback reports, one row of the update history and
// one upgrade-status report. Plain value types; member order and widths are part of the interface.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// How a package is applied: 1 default (diagnose tool), 2 forced, 5 idle-time.
enum _DRIVER_UPDATE_TYPE : std::int32_t {
    DRIVER_UPDATE_DEFAULT = 1,
    DRIVER_UPDATE_FORCE = 2,
    DRIVER_UPDATE_IDLE = 5,
};

// CompareVersion(local, offered).
enum _VERSION_COMPARE_RESULT : std::int32_t {
    VERSION_EQUAL = 0,          // same version ("1.2" equals "1.2.0")
    VERSION_LOCAL_NEWER = 1,    // the installed version is newer than the offered one
    VERSION_OFFERED_NEWER = 2,  // the offered version is newer (or nothing is installed)
    VERSION_INVALID = 3,        // a version is not dotted numeric; callers treat it as "not newer"
};

// One package offered by the update service. Members named "aux" are the library's own: strAux1
// holds the package's description in the language it was read for; the others are carried.
struct _TOBEUPDATE_DRIVER_INFO {
    struct VersionInfo {
        std::string strAux3;  // the version being replaced, as recorded at install time
        std::string strNextVersion;
        std::string strNextVersionID;
        std::string strUrl;
        std::string strAux4;
        std::string strVersionType;
        std::uint64_t FileSize = 0;
    };
    struct Policy {
        std::int32_t updateType = 0;
        bool restartLevel1 = false;
        bool restartLevel2 = false;
        bool flagAux1 = false;
        bool flagAux2 = false;
        bool forceFlag = false;
        bool idleAllowed = false;
        std::string strAux5;
        std::vector<std::string> auxList2;
        std::vector<std::string> processList;  // log folders of the package's installer
        std::vector<std::string> auxList3;
        // device type -> (process name, description) pairs
        std::map<std::string, std::vector<std::pair<std::string, std::string>>> textByKey;
    };
    struct HashInfo {
        std::string strAux6;
        std::uint64_t auxSize = 0;
        std::string strHashAlgo;  // "SHA256" (case-insensitive); empty means unchecked
        std::string strHash;      // lower- or upper-case hex
    };

    std::string strDriverID;
    std::string strDriverName;
    std::string strCurVersion;
    std::int64_t auxValue = 0;
    std::string strAux1;
    VersionInfo versionInfo;
    Policy policy;
    std::vector<std::string> auxList;
    std::string strAux2;
    HashInfo hashInfo;
    bool isInvolovedA = false;
};

// The description members that a flat record (a download request, an entry of the service's package
// tables) carries under the same names; the rest keep their defaults.
template <class Flat>
_TOBEUPDATE_DRIVER_INFO PackageFromRecord(const std::string& id, const Flat& f) {
    _TOBEUPDATE_DRIVER_INFO p;
    p.strDriverID = id;
    p.strDriverName = f.strDriverName;
    p.strCurVersion = f.strCurVersion;
    p.versionInfo.strNextVersion = f.strNextVersion;
    p.versionInfo.strNextVersionID = f.strNextVersionID;
    p.versionInfo.strUrl = f.strUrl;
    p.versionInfo.strVersionType = f.strVersionType;
    p.versionInfo.FileSize = f.FileSize;
    return p;
}

// A package newer than the installed one that the user chose to ignore in the driver notice.
struct _IGNORED_DRIVER_INFO {
    std::string strDriverID;
    std::string strCurVersion;
    bool isInvolovedA = false;
    std::string strIgnoreTime;   // "%Y-%m-%d %H:%M"
    std::string strNextVersion;  // the version that was ignored
};

// One download request; also the JSON body of IPC messages, with the member names as keys.
struct download_param {
    std::string strCurVersion;
    std::string strUrl;
    std::string strFilepath;
    std::string strSN;
    std::string strVersionType;
    std::string strDriverID;
    std::string strDriverName;
    std::string strNextVersionID;
    std::string strNextVersion;
    std::string strHashAlgo;
    std::string strHash;
    std::uint64_t FileSize = 0;
    std::int32_t upateType = 1;
    std::int32_t Uid = 0;
    bool restart = false;
    bool shutdown = false;

    download_param() = default;
    // Lenient: text that is not a JSON object gives the default record; absent keys, and keys whose
    // value has the wrong type, keep their defaults.
    explicit download_param(const std::string& jsonText);
    std::string ToJson() const;
};

// What a completion callback receives.
struct _DownloadCbParam {
    std::string strDriverID;
    std::string strInstallPath;
    std::int32_t cbValue1 = 0;   // progress callbacks: percent done (0..100)
    std::int32_t errorCode = 0;  // a DownloadError on failure
    bool cbValue2 = false;       // set on the callback that ends a download
    bool success = false;
};

// One row of the update history.
struct finished_update_package {
    std::string strDriverID;
    std::string strDayStart;
    std::string strAux;
    std::int64_t FileSize = 0;
    std::string strCurVersion;
    std::string strNextVersion;
    std::int64_t dayStart = 0;
};

// One upgrade-status report, filled by initReportDriverInfor and sent by ReportUpgradeStatusNew.
struct report {
    std::string strStatus;
    std::string strDriverID = "0";
    std::string strProduct = "Lanterna";
    std::string strVersion;
    std::string strDriverName;
    std::string strUpdateType;
    std::string strVersionID;
    std::string strFromVersion;
    std::string strModel;
    std::string strOtaId;
    std::string strLanguage;
    std::string strTime;
    std::string strResult;
    std::string strAux1;
    std::string strAux2;
    std::string strAux3;
};
