// The library's folders under the suite's data folder, and the package folders kept there.
//
//   <data>\DriverUpgrade\Update\Detected\<id>\DriverInfo.xml   description of a detected package
//   <data>\DriverUpgrade\Update\Downloaded\<id>_<version>\     update.zip, the unpacked installer
//   <data>\DriverUpgrade\Update\Installed\<id>.xml             what PostDrvUpgrade recorded
//   <data>\DriverUpgrade\LastCheckTime.xml                     CLastCheckTimeMgr
//
// Paths are Windows paths; plat::ToHostPath maps them at the file-system boundary. Package ids and
// versions are checked before they become path parts: anything but letters, digits, '.', '_' and
// '-' (and "." or "..") is refused, so no path leaves the data folder. Any thread may call these.
#pragma once

#include <cstdint>
#include <string>

#include "KVADownload/UpdateInfo.h"

// The suite's data folder ("C:\\ProgramData\\Vantor\\Pilotdeck").
std::string GetAppDataFolder();

// folderKind: 1 detected, 2 downloaded, 3 installed. scope: 0 the update tree
// ("\\DriverUpgrade\\Update\\..."), 1 the driver tree ("\\DriverUpgrade\\..."), 3 scratch space
// ("\\DriverUpgrade\\Temp\\...", emptied at every start). Relative to GetAppDataFolder(); empty for
// an unknown combination.
std::string GetUpdateFolder(int folderKind, int scope);

// Download folder of one package version: "<data>\\DriverUpgrade\\Update\\Downloaded\\<id>_<version>".
// create: make the folder; fullPath: prefix the data folder (else relative to it). Empty when the
// id or version is not a safe path part.
std::string GetDownloadPath(const std::string& id, const std::string& version, int create = 1,
                            int fullPath = 1);

// A package id or version that may become one path component.
bool IsSafePathPart(const std::string& part);

// The detected folder of one package: its description (DriverInfo.xml) as the update service gave it.
class CDetectedFolderMgr {
public:
    // create: make the folder when it is missing.
    CDetectedFolderMgr(const std::string& id, int create);

    const std::string& Folder() const { return m_folder; }  // empty when the id is unsafe
    // Reads the stored description; strAux1 gets the description in `language` ("en-US"; falls back
    // to the language without region, then "en-US", then any). Non-zero on success.
    int ReadDrvInfo(const std::string& language, _TOBEUPDATE_DRIVER_INFO& info) const;
    // Stores a description (all languages kept). True on success.
    bool WriteDrvInfo(const _TOBEUPDATE_DRIVER_INFO& info, const std::string& descriptionsJson = {},
                      int updateType = 0) const;
    // Stores the description of the package the request names: the catalogue's record of that
    // version when the last accepted catalogue has it, else what the request itself carries.
    bool DownloadXML(const download_param& param) const;
    // Removes every downloaded version of this package except `keepVersion`.
    bool DeleteOldVersionFile(const std::string& keepVersion) const;

private:
    std::string m_id;
    std::string m_folder;
};

// Deletes the detected folder of a package the user ignored; remember != 0 also keeps the ignored
// version, so the next query lists it among the ignored packages. 0 on success.
int DeleteDetectedDrv(const std::string& id, const std::string& version, int remember);
// Saves a package description for its install (the detected folder of its id). True on success.
bool SaveUpdateInfo(const _TOBEUPDATE_DRIVER_INFO& info, int updateType);
// Notes that a package was installed: records it under the installed folder and, with cleanUp,
// removes its download folders and its detected description. 0 on success.
int PostDrvUpgrade(const std::string& id, const std::string& versionOrInstaller, int cleanUp);

// Times of the last checks (seconds since 1970, the clock's wall time), kept in
// "\\DriverUpgrade\\LastCheckTime.xml".
class CLastCheckTimeMgr {
public:
    bool GetDriverCheckTime(std::int64_t& t) const;
    bool GetLanternaCheckTime(std::int64_t& t) const;
    bool GetMessageCenterLastCheckTime(std::int64_t& t) const;
    bool UpdateDriverCheckTime();
    bool UpdateLanternaCheckTime();
    bool UpdateMessageCenterCheckTime();

private:
    bool Get(const char* name, std::int64_t& t) const;
    bool Set(const char* name);
};
