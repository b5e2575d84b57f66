// The management application's own package: a silent download (at most one at a time, guarded by
// m_bSilentDownloading) that hands the installer straight to SilentInstall, resumed by
// ContinueDownLoad when the machine becomes idle.
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/Folders.h"
#include "KVADownload/Version.h"
#include "Util/CorvellaVersionMgr.h"
#include "Util/DE.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "driver_update/DownloadRequest.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

std::string CKVAServerQuery::AppPackagePath() {
    std::lock_guard lock(m_mtxTables);
    return m_strAppPackagePath;
}

void CKVAServerQuery::SetAppPackagePath(const std::string& path) {
    std::lock_guard lock(m_mtxTables);
    m_strAppPackagePath = path;
}

void CKVAServerQuery::SilentDownload(_TOBEUPDATE_DRIVER_INFO& record, int type) {
    KVA_LOG_WARN("SilentDownload enter, ID: " << record.strDriverID << " CurVersion: " << record.strCurVersion
                                              << " NextVersion: " << record.versionInfo.strNextVersion
                                              << " IsSilentDownload: " << m_bSilentDownloading.load());
    if (m_bSilentDownloading.exchange(true)) {
        KVA_LOG_ERROR("SilentDownload is running");
        return;
    }
    auto* mgr = CDriverDownloadManager::GetInstance();
    const download_param request = driver_update::MakeDownloadParam(record, type, kDriverTypeApplication);
    const std::string installer = mgr->GetInstallFilePath(request);
    if (!installer.empty() && DE::FileExists(installer)) {
        SetAppPackagePath(request.strFilepath);
        m_bSilentDownloading = false;
        SilentInstall(installer);
        return;
    }
    SetAppPackagePath({});
    mgr->Init(request);
    mgr->FuncBind(record.strDriverID, type, [this](_DownloadCbParam p) { DoingDownDCB(std::move(p)); },
                  [this](_DownloadCbParam p) { FinishDownDCB(std::move(p)); },
                  [this](_DownloadCbParam p) { ErrorDownDCB(std::move(p)); },
                  [this](_DownloadCbParam p) { CancelDownDCB(std::move(p)); }, {});
    if (mgr->BeginDownload(record.strDriverID, type)) {
        SetAppPackagePath(request.strFilepath);
        KVA_LOG_WARN("SilentDownload start Download corvella package for force install success! CurVersion: "
                     << record.strCurVersion << " NextVersion : " << record.versionInfo.strNextVersion);
    } else {
        m_bSilentDownloading = false;
        KVA_LOG_ERROR("SilentDownload start Download corvella package for force install Failed! CurVersion: "
                      << record.strCurVersion << " NextVersion: " << record.versionInfo.strNextVersion);
    }
}

void CKVAServerQuery::DoingDownDCB(_DownloadCbParam) {}

void CKVAServerQuery::FinishDownDCB(_DownloadCbParam report) {
    m_bSilentDownloading = false;
    KVA_LOG_WARN("into CKVAServerQuery::FinishDownDCB and final download status is: " << report.success);
    if (!report.success || report.strInstallPath.empty()) {
        KVA_LOG_ERROR("error happened in CKVAServerQuery::FinishDownDCB  is " << report.success);
        return;
    }
    std::string keepVersion;
    {
        std::lock_guard lock(m_mtxTables);
        keepVersion.swap(m_strAppNextVersion);
    }
    CDetectedFolderMgr(kDriverTypeApplication, 1).DeleteOldVersionFile(keepVersion);
    const std::string package = AppPackagePath();
    if (!DE::EnableAccessFileForEveryone(package))
        KVA_LOG_ERROR("into CKVAServerQuery::FinishDownDCB successed but change privilege failed!");
    KVA_LOG_WARN("SilentInstall IsAlready Download corvella package for install,strLocalZip: "
                 << package << ",strInstallPath: " << report.strInstallPath);
    SilentInstall(report.strInstallPath);
}

void CKVAServerQuery::ErrorDownDCB(_DownloadCbParam report) {
    KVA_LOG_ERROR("error happened in CKVAServerQuery::ErrorDownDCB code is " << report.errorCode);
    m_bSilentDownloading = false;
}

void CKVAServerQuery::CancelDownDCB(_DownloadCbParam) {
    std::string cur, next;
    {
        std::lock_guard lock(m_mtxTables);
        cur = m_appUpdateInfo.strCurVersion;
        next = m_appUpdateInfo.versionInfo.strNextVersion;
    }
    KVA_LOG_ERROR("cancel happened in CKVAServerQuery::CancelDownDCB strCurVersion: " << cur << " strNextVersion: "
                                                                                       << next);
    m_bSilentDownloading = false;
}

void CKVAServerQuery::ContinueDownLoad() {
    if (IsWndExists(true)) {
        ReportEvent(evt::kAppUpdateError, "5", 18, 3);
        KVA_LOG_ERROR("IsWndExists");
        return;
    }
    UpdaterManager::enmUPDATER_ERROR_TYPE error = UpdaterManager::UPDATER_ERROR_NONE;
    if (!CheckManualState(error)) {
        if (error != UpdaterManager::UPDATER_ERROR_NONE) ReportEvent(evt::kAppUpdateError, "5", 18, error);
        KVA_LOG_WARN("not finish manual update");
        return;
    }
    const std::string cur = CCorvellaVersionMgr::getInstance().GetAppVersion();
    if (cur.empty()) {
        KVA_LOG_ERROR("Version empty");
        return;
    }
    _TOBEUPDATE_DRIVER_INFO app;
    {
        std::lock_guard lock(m_mtxTables);  // the application check rewrites the record
        app = m_appUpdateInfo;
    }
    const std::string next = app.versionInfo.strNextVersion;
    if (next.empty()) {
        KVA_LOG_ERROR("ContinueDownLoad strNextVersion is empty ");
        return;
    }
    const int rel = CompareVersion(cur, next);
    if (rel != VERSION_OFFERED_NEWER) {
        KVA_LOG_WARN("local version is big  or equal." << cur << ";" << next << ", verCpRel: " << rel);
        return;
    }
    if (app.policy.forceFlag) {
        KVA_LOG_WARN("skip ForceUpdate strCurVersion: " << app.strCurVersion << " strNextVersion:" << next);
        return;
    }
    if (!DE::FileExists(driver_update::DownloadTargetFile(kDriverTypeApplication, next))) {
        const std::uint64_t reserve = 3 * app.versionInfo.FileSize;
        if (!IsMachineFreeSpaceOK(reserve)) {
            ReportEvent(evt::kAppUpdateError, "5", 18, 2);
            KVA_LOG_ERROR("ContinueDownLoad space not ok, need reserveSize " << reserve);
            return;
        }
    }
    KVA_LOG_WARN("AgreeSilentUpdate Current scene: " << m_IsFreeScene.load() << " strCurVersion: " << cur
                                                     << " strNextVersion:" << next);
    SilentDownload(app, DRIVER_UPDATE_IDLE);
}
