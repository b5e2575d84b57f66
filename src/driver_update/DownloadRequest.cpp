#include "driver_update/DownloadRequest.h"

#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "common/Driver/DriverUpdateCommon.h"

namespace driver_update {

std::string DownloadTargetFile(const std::string& id, const std::string& nextVersion) {
    return GetDownloadPath(id, nextVersion, 1, 1) + "\\" + kUpdatePackageFile;
}

download_param MakeDownloadParam(const _TOBEUPDATE_DRIVER_INFO& record, int updateType, const std::string& id) {
    download_param p;
    if (record.versionInfo.strVersionType == "2") p.strSN = ProduceJsonStrForSn(0);
    if (record.isInvolovedA) p.strSN = kInvolvedA;
    p.Uid = -1;
    p.strUrl = record.versionInfo.strUrl;
    p.FileSize = record.versionInfo.FileSize;
    p.strDriverID = id;
    p.strFilepath = DownloadTargetFile(id, record.versionInfo.strNextVersion);
    p.strDriverName = record.strDriverName;
    p.strNextVersion = record.versionInfo.strNextVersion;
    p.strNextVersionID = record.versionInfo.strNextVersionID;
    p.strHashAlgo = record.hashInfo.strHashAlgo;
    p.strHash = record.hashInfo.strHash;
    p.upateType = updateType;
    return p;
}

void CopyRecordToEntry(const _TOBEUPDATE_DRIVER_INFO& record, enmUPGRADE_DRIVER_INFO& entry) {
    entry.strCurVersion = record.strCurVersion;
    entry.strDriverName = record.strDriverName;
    entry.strUrl = record.versionInfo.strUrl;
    entry.restartLevel1 = record.policy.restartLevel1;
    entry.restartLevel2 = record.policy.restartLevel2;
    entry.restartLevel3 = record.strDriverID == kDriverTypeBios;
    entry.strVersionType = record.versionInfo.strVersionType;
    entry.FileSize = record.versionInfo.FileSize;
    entry.strNextVersion = record.versionInfo.strNextVersion;
    entry.strNextVersionID = record.versionInfo.strNextVersionID;
    entry.hashInfo.strHashAlgo = record.hashInfo.strHashAlgo;
    entry.hashInfo.strHash = record.hashInfo.strHash;
    entry.isInvolovedA = record.isInvolovedA;
}

}  // namespace driver_update
