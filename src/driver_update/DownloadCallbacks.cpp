// What the download library reports back, on its own threads: finished, failed or cancelled
// driver downloads move their table entry; progress carries nothing here.
#include "KVADownload/DriverDownloadManager.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::BindDriverCallbacks(const std::string& id, _DRIVER_UPDATE_TYPE type) {
    auto* mgr = CDriverDownloadManager::GetInstance();
    if (type == DRIVER_UPDATE_FORCE) {
        mgr->FuncBind(id, type, [this](_DownloadCbParam p) { ForceDowningCallBack(std::move(p)); },
                      [this](_DownloadCbParam p) { ForceDownOverCallBack(std::move(p)); },
                      [this](_DownloadCbParam p) { ForceDownErrCallBack(std::move(p)); },
                      [this](_DownloadCbParam p) { ForceDownCleCallBack(std::move(p)); }, {});
    } else {
        mgr->FuncBind(id, type, [this](_DownloadCbParam p) { IdleDowningCallBack(std::move(p)); },
                      [this](_DownloadCbParam p) { IdleDownOverCallBack(std::move(p)); },
                      [this](_DownloadCbParam p) { IdleDownErrCallBack(std::move(p)); },
                      [this](_DownloadCbParam p) { IdleDownCleCallBack(std::move(p)); }, {});
    }
}

void CKVAServerQuery::SetEntryAfterDownload(_DRIVER_UPDATE_TYPE table, const _DownloadCbParam& report, enmPACKAGE_STATE state) {
    {
        std::lock_guard lock(m_mtxTables);
        enmUPGRADE_DRIVER_INFO& entry =
            (table == DRIVER_UPDATE_FORCE ? m_mapForceDriver : m_mapIdleDriver)[report.strDriverID];
        if (state == PACKAGE_DOWNLOADED) entry.strInstallFile = report.strInstallPath;
        entry.state = state;
    }
    PublishPackageTables();
}

void CKVAServerQuery::ForceDowningCallBack(_DownloadCbParam) {}
void CKVAServerQuery::IdleDowningCallBack(_DownloadCbParam) {}

void CKVAServerQuery::ForceDownOverCallBack(_DownloadCbParam report) {
    if (!report.success) KVA_LOG_ERROR("ForceDownOverCalllBack error");
    SetEntryAfterDownload(DRIVER_UPDATE_FORCE, report, report.success ? PACKAGE_DOWNLOADED : PACKAGE_DOWNLOAD_FAILED);
}

void CKVAServerQuery::IdleDownOverCallBack(_DownloadCbParam report) {
    if (!report.success) KVA_LOG_ERROR("download error of driver " << report.strDriverID);
    SetEntryAfterDownload(DRIVER_UPDATE_IDLE, report, report.success ? PACKAGE_DOWNLOADED : PACKAGE_DOWNLOAD_FAILED);
}

void CKVAServerQuery::ForceDownErrCallBack(_DownloadCbParam report) {
    KVA_LOG_ERROR("download error id " << report.strDriverID);
    SetEntryAfterDownload(DRIVER_UPDATE_FORCE, report, PACKAGE_DOWNLOAD_FAILED);
}

void CKVAServerQuery::IdleDownErrCallBack(_DownloadCbParam report) {
    KVA_LOG_ERROR("download error id " << report.strDriverID);
    SetEntryAfterDownload(DRIVER_UPDATE_IDLE, report, PACKAGE_DOWNLOAD_FAILED);
}

void CKVAServerQuery::ForceDownCleCallBack(_DownloadCbParam report) {
    SetEntryAfterDownload(DRIVER_UPDATE_FORCE, report, PACKAGE_DOWNLOAD_CANCELLED);
}

void CKVAServerQuery::IdleDownCleCallBack(_DownloadCbParam report) {
    SetEntryAfterDownload(DRIVER_UPDATE_IDLE, report, PACKAGE_DOWNLOAD_CANCELLED);
}
