// The JSON form of a package description, as the catalogue and DriverInfo.xml hold it: the member
// names of _TOBEUPDATE_DRIVER_INFO as keys, nested objects for versionInfo, policy and hashInfo, and
// "descriptions" (language -> text) beside them.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "KVADownload/UpdateInfo.h"

nlohmann::json PackageToJson(const _TOBEUPDATE_DRIVER_INFO& info);
// A digest of every member PackageToJson writes, taken from the same member lists: when two
// digests are equal so are the two JSON forms (but for a hash collision), without building them.
std::size_t PackageDigest(const _TOBEUPDATE_DRIVER_INFO& info);
// Lenient like download_param: wrong or absent keys keep their defaults. False for a non-object.
bool PackageFromJson(const nlohmann::json& obj, _TOBEUPDATE_DRIVER_INFO& info);
// The text of `descriptions` for `language`, with the fallbacks of CDetectedFolderMgr::ReadDrvInfo.
std::string PickDescription(const nlohmann::json& descriptions, const std::string& language);
