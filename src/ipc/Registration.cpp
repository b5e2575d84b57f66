// The service's IPC endpoint: which handler answers which message, the generic send,
// and the one rule every reply follows.
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

using Handler = void (CKVAServerQuery::*)(tagIPC_MESSAGE_ITEM&);

}  // namespace

void CKVAServerQuery::RegisterIpcHandlers() {
    auto on = [this](int id, Handler handler) { m_ipcClient.RegisterMessageCallback(id, this, handler); };
    on(ipc_msg::kAppMgAnswer, &CKVAServerQuery::OnRecvAppMgIPCMessage);
    on(ipc_msg::kAppMgCloseWin, &CKVAServerQuery::OnRecvAppMgCloseWinMsg);
    on(ipc_msg::kSettingPopWindowAnswer, &CKVAServerQuery::OnRecvSettingPopWindowMsg);
    on(ipc_msg::kSettingCloseWin, &CKVAServerQuery::OnRecvSettingCloseWinMsg);
    on(ipc_msg::kInstallEnd, &CKVAServerQuery::OnRecvInstallEnd);
    m_ipcClient.SubscribeIPCMessage(ipc_topic::kSystemState, 0);
    m_ipcClient.SetSubscribeCallback(this, &CKVAServerQuery::OnRecvSysState);
    on(ipc_msg::kPopRestartWnd, &CKVAServerQuery::OnRecvPopRestartWnd);
    on(ipc_msg::kAppManagerUIStatus, &CKVAServerQuery::OnRecvAppManagerUIStatusMsg);
    on(ipc_msg::kDriverDownload, &CKVAServerQuery::OnRecvDriverDownLoadMsg);
    on(ipc_msg::kDriverDownloadOther, &CKVAServerQuery::OnRecvDriverDownLoadMsg);
    auto* cancel = new CIPCServerProc<CKVAServerQuery, void, const strDRIVER_DOWNLOAD_CB_PARAM&>(
        ipc_msg::kCancelDownload, this, &CKVAServerQuery::OnRecvCancelDownload);
    if (m_ipcServer.RegisterProc(cancel) < 0) delete cancel;
    on(ipc_msg::kAppManagerUIInstall, &CKVAServerQuery::OnRecvAppManagerUIInstallMsg);
    on(ipc_msg::kSynergyAnswer, &CKVAServerQuery::OnRecvSynergyMsg);
    on(ipc_msg::kQueryBIOS, &CKVAServerQuery::OnRecvQueryBIOS);
    on(ipc_msg::kUpdateXML, &CKVAServerQuery::OnRecvUpdateXMLMsg);
    on(ipc_msg::kGetFWVersion, &CKVAServerQuery::OnRecvGetFWVersion);
    on(ipc_msg::kCheckWinPE, &CKVAServerQuery::OnRecvCheckWinPE);
    on(ipc_msg::kCheckDiagnoseAnalysis, &CKVAServerQuery::OnRecvCheckDiagnoseAnalysis);
    on(ipc_msg::kDownloadDiagnoseAnalysis, &CKVAServerQuery::OnRecvDownloadDiagnoseAnalysis);
}

bool CKVAServerQuery::SendIPCMessage(int receiver, int messageId, int secondId, char* data, int length) {
    return m_ipcClient.PostIPCMessage(MakeIPCPost(receiver, messageId, secondId, data, length));
}

bool CKVAServerQuery::PostReply(const tagIPC_MESSAGE_ITEM& request, const char* payload, int length) {
    return m_ipcClient.PostIPCMessage(MakeIPCReply(request, ipc_endpoint::kService, const_cast<char*>(payload), length));
}
