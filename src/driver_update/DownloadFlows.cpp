// Forced and idle driver downloads: each package's entry moves to "downloading" (1), then the
// download library's callbacks move it on; a package already on disk goes straight to "ready" (3).
#include "KVADownload/DriverDownloadManager.h"
#include "driver_update/DownloadRequest.h"
#include "install/DataEvents.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::StartDriverDownload(const _TOBEUPDATE_DRIVER_INFO& record, _DRIVER_UPDATE_TYPE type) {
    const bool forced = type == DRIVER_UPDATE_FORCE;
    auto& table = forced ? m_mapForceDriver : m_mapIdleDriver;
    const std::string& id = record.strDriverID;
    {
        std::lock_guard lock(m_mtxTables);
        table[id].state = PACKAGE_DOWNLOADING;
    }
    auto* mgr = CDriverDownloadManager::GetInstance();
    const download_param request = driver_update::MakeDownloadParam(record, type, id);
    const std::string installer = mgr->GetInstallFilePath(request);
    if (!installer.empty()) {
        if (forced) KVA_LOG_WARN("file aready exist, " << id);
        else KVA_LOG_WARN("file aready exist");
        std::lock_guard lock(m_mtxTables);
        enmUPGRADE_DRIVER_INFO& entry = table[id];
        entry.strInstallFile = installer;
        entry.state = PACKAGE_DOWNLOADED;
        entry.downloadedThisRun = false;
        return;
    }
    {
        std::lock_guard lock(m_mtxTables);
        table[id].downloadedThisRun = true;
    }
    mgr->Init(request);
    BindDriverCallbacks(id, type);
    // A failed start leaves the entry "downloading": the check does not queue it again.
    if (!mgr->BeginDownload(id, type)) {
        KVA_LOG_ERROR("service silent Force update down load fail");
    } else if (forced) {
        KVA_LOG_WARN("service silent Idle down load begin success, " << id << " " << record.versionInfo.strNextVersion);
    } else {
        KVA_LOG_WARN("service silent Idle down load begin success");
    }
}

void CKVAServerQuery::ForceDownLoad(const _TOBEUPDATE_DRIVER_INFO& record) {
    KVA_LOG_WARN("Enter ForceDownLoad  driverName:" << record.strDriverName << " " << record.versionInfo.strNextVersion);
    StartDriverDownload(record, DRIVER_UPDATE_FORCE);
}

void CKVAServerQuery::IdleDownLoad(const _TOBEUPDATE_DRIVER_INFO& record) {
    KVA_LOG_WARN("Enter Idle DriverDownLoad driverName:" << record.strDriverName << " "
                                                          << record.versionInfo.strNextVersion);
    if (!m_IsFreeScene) {
        ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_NOT_IDLE, DRIVER_UPDATE_IDLE,
                                UpdaterManager::UPDATER_TRACK_CHECK, record.strDriverName);
        KVA_LOG_WARN(" is not free scene when download driver" << record.strDriverName << " driver id"
                                                               << record.strDriverID);
        return;
    }
    StartDriverDownload(record, DRIVER_UPDATE_IDLE);
}

void CKVAServerQuery::SetDownloadParam(_TOBEUPDATE_DRIVER_INFO record, download_param& request,
                                       std::string& installer) {
    request = driver_update::MakeDownloadParam(record, DRIVER_UPDATE_DEFAULT, record.strDriverID);
    installer = CDriverDownloadManager::GetInstance()->GetInstallFilePath(request);
    std::lock_guard lock(m_mtxTables);
    m_strLastNextVersion = record.versionInfo.strNextVersion;
}
