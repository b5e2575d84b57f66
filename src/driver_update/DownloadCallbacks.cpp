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

void CKVAServerQuery::SetEntryAfterDownload(_DRIVER_UPDATE_TYPE table, const _DownloadCbParam& report, int state) {
    {
        std::lock_guard lock(m_mtxTables);
        enmUPGRADE_DRIVER_INFO& entry =
            (table == DRIVER_UPDATE_FORCE ? m_mapForceDriver : m_mapIdleDriver)[report.strDriverID];
        if (state == 3) entry.strInstallFile = report.strInstallPath;
        entry.state = state;
    }
    PublishPackageTables();
}

void CKVAServerQuery::ForceDowningCallBack(_DownloadCbParam) {}
void CKVAServerQuery::IdleDowningCallBack(_DownloadCbParam) {}

void CKVAServerQuery::ForceDownOverCallBack(_DownloadCbParam report) {
    if (!report.success) KVA_LOG_ERROR("ForceDownOverCalllBack error");
    SetEntryAfterDownload(DRIVER_UPDATE_FORCE, report, report.success ? 3 : 4);
}

void CKVAServerQuery::IdleDownOverCallBack(_DownloadCbParam report) {
    if (!report.success) KVA_LOG_ERROR("download error of driver " << report.strDriverID);
    SetEntryAfterDownload(DRIVER_UPDATE_IDLE, report, report.success ? 3 : 4);
}

void CKVAServerQuery::ForceDownErrCallBack(_DownloadCbParam report) {
    KVA_LOG_ERROR("download error id " << report.strDriverID);
    SetEntryAfterDownload(DRIVER_UPDATE_FORCE, report, 4);
}

void CKVAServerQuery::IdleDownErrCallBack(_DownloadCbParam report) {
    KVA_LOG_ERROR("download error id " << report.strDriverID);
    SetEntryAfterDownload(DRIVER_UPDATE_IDLE, report, 4);
}

void CKVAServerQuery::ForceDownCleCallBack(_DownloadCbParam report) {
    SetEntryAfterDownload(DRIVER_UPDATE_FORCE, report, 2);
}

void CKVAServerQuery::IdleDownCleCallBack(_DownloadCbParam report) {
    SetEntryAfterDownload(DRIVER_UPDATE_IDLE, report, 2);
}
