// The diagnose-analysis tool (package "101"): the main UI asks whether a newer one exists and has
// it fetched; once downloaded it is installed like a driver and the outcome is broadcast (0xF0014).
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/DE.h"
#include "Util/SystemInfo.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr char kDiagnosePackage[] = "101";

// The diagnose handlers answer from the request's second id, with one byte.
void AnswerDiagnose(CIPCMessageClient& client, const tagIPC_MESSAGE_ITEM& request, bool yes) {
    char byte = yes ? 1 : 0;
    tagIPC_MESSAGE_ITEM reply;
    reply.nReceiverID = request.nSenderID;
    reply.nSenderID = request.nReplyMessageID;
    reply.nMessageID = request.nMessageID;
    reply.nReplyMessageID = -1;
    reply.nReserved = -1;
    reply.nSyncMessageId = request.nSyncMessageId;
    reply.nMessageLen = 1;
    reply.pszMessage = &byte;
    reply.bReserved = false;
    if (!client.PostIPCMessage(reply)) KVA_LOG_ERROR("diagnose answer not sent");
}

void PublishDiagnoseResult(CIPCMessageClient& client, bool installed) {
    char byte = installed ? 1 : 0;
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kBroadcast;
    item.nSenderID = ipc_endpoint::kBroadcast;
    item.nMessageID = ipc_msg::kDiagnoseAnalysisReady;
    item.nReplyMessageID = -1;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = 1;
    item.pszMessage = &byte;
    item.bReserved = false;
    if (!client.PublishIPCMessage(item)) KVA_LOG_ERROR("diagnose result not broadcast");
}

}  // namespace

void CKVAServerQuery::OnRecvCheckDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item) {
    AnswerDiagnose(m_ipcClient, item, GetDiagnoseAnalysisNewVersion());
}

void CKVAServerQuery::OnRecvDownloadDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item) {
    AnswerDiagnose(m_ipcClient, item, DownloadAndInstallDiagnoseAnalysis());
}

bool CKVAServerQuery::DownloadAndInstallDiagnoseAnalysis() {
    _TOBEUPDATE_DRIVER_INFO record;
    CDetectedFolderMgr folder(kDiagnosePackage, 1);
    const std::string language = DE::UnicodeToUTF8(SystemInfo::getCurrentUserLanguage());
    if (folder.ReadDrvInfo(language, record) == 0) {
        KVA_LOG_ERROR("Read DiagnoseAnalysis xml fail");
        return false;
    }
    download_param request;
    std::string installer;
    SetDownloadParam(record, request, installer);
    auto* downloads = CDriverDownloadManager::GetInstance();
    downloads->Init(request);
    downloads->FuncBind(record.strDriverID, DRIVER_UPDATE_DEFAULT, {},
                        [this](_DownloadCbParam p) { DiagnoseAnalysisDownloadFinish(std::move(p)); }, {}, {}, {});
    if (!downloads->BeginDownload(record.strDriverID, request.upateType)) {
        KVA_LOG_ERROR("DiagnoseAnalysis download fail");
        return false;
    }
    return true;
}

// Download thread; blocks while the installer runs.
void CKVAServerQuery::DiagnoseAnalysisDownloadFinish(_DownloadCbParam report) {
    if (!report.success) {
        KVA_LOG_WARN("DiagnoseAnalysis download states failed");
        PublishDiagnoseResult(m_ipcClient, false);
        return;
    }
    StartInstallTimer(report.strDriverID, DRIVER_UPDATE_DEFAULT);
    std::int32_t exitCode = -1;
    const std::uint32_t rc = PostSetupDriverMsg(report.strDriverID, report.strInstallPath, exitCode, DRIVER_UPDATE_DEFAULT);
    if (rc == 0) {
        KVA_LOG_WARN("install diagnose analysis successed");
    } else {
        KVA_LOG_WARN("install diagnose analysis faild");
    }
    std::string version;
    {
        std::lock_guard lock(m_mtxTables);
        version = m_strLastNextVersion;
    }
    ReportUpgradeStep(3, report.strDriverID, version, version, "", "1");
    ReportInstallTimer(report.strDriverID, DRIVER_UPDATE_DEFAULT,
                       "DiagnoseAnalysis;" + version + ";" + "1" + ";" + "0" + ";" + std::to_string(exitCode));
    PublishDiagnoseResult(m_ipcClient, rc == 0);
}
