// The update pipeline's own records: the progress entry of a package in the service's two package
// tables, the restart levels and the reason and step codes of error reports. The records shared
// with the download library (package description, download request, completion report, history
// row) come from its header.
#pragma once

#include <cstdint>
#include <string>

#include "KVADownload/UpdateInfo.h"

// Restart urgency of an installed package, rising.
enum _RESTART_SYSTEM_LEVEL : std::int32_t {
    RESTART_LEVEL_NONE = 0,
    RESTART_LEVEL_1 = 1,
    RESTART_LEVEL_2 = 2,
    RESTART_LEVEL_3 = 3,
};

// The situation an automatic update runs in: 0 forced or sign-in screen showing, 1 otherwise.
enum emUpdateScene : std::int32_t {
    UPDATE_SCENE_RESTRICTED = 0,
    UPDATE_SCENE_NORMAL = 1,
};

namespace UpdaterManager {

// Reason of an update error report; 0 reports nothing.
enum enmUPDATER_ERROR_TYPE : std::int32_t {
    UPDATER_ERROR_NONE = 0,                // nothing is reported
    UPDATER_ERROR_SPACE_OR_BATTERY = 1,    // driver check and install refusals
    UPDATER_ERROR_DISK_SPACE = 2,          // with events 7007 and 3011
    UPDATER_ERROR_APP_WINDOW_OPEN = 3,     // a window of the management application
    UPDATER_ERROR_SYNERGY_IN_USE = 4,      // a linked device is in use
    UPDATER_ERROR_MANUAL_UNFINISHED = 5,   // or the application's own upgrade
    UPDATER_ERROR_NOT_AGREED = 7,          // used by the application self-update
    UPDATER_ERROR_NOT_IDLE = 8,            // no free scene
    UPDATER_ERROR_FULL_SCREEN = 9,         // idle, but a full-screen application is in front
    UPDATER_ERROR_SWITCH_OFF = 10,         // the idle-update switch
    UPDATER_ERROR_DEPENDENCY = 11,         // a dependency is not yet installed
    UPDATER_ERROR_APP_SETUP_RUNNING = 12,  // the management application's installer
    UPDATER_ERROR_MEETING = 13,            // a conferencing application runs
};

// The step at which an error was reported.
enum enmUPDATER_LOG_TRACK_TYPE : std::int32_t {
    UPDATER_TRACK_DISK_SPACE = 12,             // the disk-space test before a download
    UPDATER_TRACK_APP_INSTALL = 17,            // the application's own install
    UPDATER_TRACK_CONTINUE_APP_DOWNLOAD = 18,  // resumed when the machine is idle
    UPDATER_TRACK_CHECK = 19,                  // the check and the download decision
    UPDATER_TRACK_SYSTEM_STATE_DOWNLOAD = 20,  // the idle download a system-state message starts
    UPDATER_TRACK_INSTALL = 21,                // installation, with every install refusal
};

}  // namespace UpdaterManager

// Where one package stands on its road, in the service's package tables.
enum enmPACKAGE_STATE : std::int32_t {
    PACKAGE_KNOWN = 0,
    PACKAGE_DOWNLOADING = 1,
    PACKAGE_DOWNLOAD_CANCELLED = 2,
    PACKAGE_DOWNLOADED = 3,
    PACKAGE_DOWNLOAD_FAILED = 4,
    PACKAGE_INSTALLING = 5,
    PACKAGE_INSTALLED = 6,
    PACKAGE_INSTALL_FAILED = 7,
};

// Progress of one package in the service's package tables.
struct enmUPGRADE_DRIVER_INFO {
    std::string strInstallFile;
    std::string strCurVersion;
    std::string strNextVersion;
    std::string strNextVersionID;
    std::string strDriverName;
    std::string strUrl;
    std::string strVersionType;
    bool restartLevel1 = false;
    bool restartLevel2 = false;
    bool restartLevel3 = false;
    bool downloadedThisRun = false;
    std::uint64_t FileSize = 0;
    bool isInvolovedA = false;
    enmPACKAGE_STATE state = PACKAGE_KNOWN;
    _TOBEUPDATE_DRIVER_INFO::HashInfo hashInfo;

    _RESTART_SYSTEM_LEVEL GetRestartLevel() const {
        if (restartLevel3) return RESTART_LEVEL_3;
        if (restartLevel2) return RESTART_LEVEL_2;
        if (restartLevel1) return RESTART_LEVEL_1;
        return RESTART_LEVEL_NONE;
    }
};
