// The service's IPC endpoint (0x50000): which handler answers which message, the generic send,
// and the one rule every reply follows.
#include "ipc/IPCReply.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr int kOwnEndpoint = 0x50000;
constexpr unsigned kSystemStateTopic = 0x300000;
constexpr int kCancelDownloadMessage = 0xF000B;

using Handler = void (CKVAServerQuery::*)(tagIPC_MESSAGE_ITEM&);

}  // namespace

void CKVAServerQuery::RegisterIpcHandlers() {
    auto on = [this](int id, Handler handler) { m_ipcClient.RegisterMessageCallback(id, this, handler); };
    on(0x50005, &CKVAServerQuery::OnRecvAppMgIPCMessage);
    on(0x50008, &CKVAServerQuery::OnRecvAppMgCloseWinMsg);
    on(0x3A0002, &CKVAServerQuery::OnRecvSettingPopWindowMsg);
    on(0x3A0003, &CKVAServerQuery::OnRecvSettingCloseWinMsg);
    on(0x30007, &CKVAServerQuery::OnRecvInstallEnd);
    m_ipcClient.SubscribeIPCMessage(kSystemStateTopic, 0);
    m_ipcClient.SetSubscribeCallback(this, &CKVAServerQuery::OnRecvSysState);
    on(0xF0008, &CKVAServerQuery::OnRecvPopRestartWnd);
    on(0xF000C, &CKVAServerQuery::OnRecvAppManagerUIStatusMsg);
    on(0xF0009, &CKVAServerQuery::OnRecvDriverDownLoadMsg);
    on(0xF000A, &CKVAServerQuery::OnRecvDriverDownLoadMsg);
    auto* cancel = new CIPCServerProc<CKVAServerQuery, void, const strDRIVER_DOWNLOAD_CB_PARAM&>(
        kCancelDownloadMessage, this, &CKVAServerQuery::OnRecvCancelDownload);
    if (m_ipcServer.RegisterProc(cancel) < 0) delete cancel;
    on(0xF000F, &CKVAServerQuery::OnRecvAppManagerUIInstallMsg);
    on(0x50015, &CKVAServerQuery::OnRecvSynergyMsg);
    on(0x50016, &CKVAServerQuery::OnRecvQueryBIOS);
    on(0xF000D, &CKVAServerQuery::OnRecvUpdateXMLMsg);
    on(0xF000E, &CKVAServerQuery::OnRecvGetFWVersion);
    on(0xF0011, &CKVAServerQuery::OnRecvCheckWinPE);
    on(0xF0012, &CKVAServerQuery::OnRecvCheckDiagnoseAnalysis);
    on(0xF0013, &CKVAServerQuery::OnRecvDownloadDiagnoseAnalysis);
}

bool CKVAServerQuery::SendIPCMessage(int receiver, int messageId, int secondId, char* data, int length) {
    return m_ipcClient.PostIPCMessage(MakeIPCPost(receiver, messageId, secondId, data, length));
}

bool CKVAServerQuery::PostReply(const tagIPC_MESSAGE_ITEM& request, const char* payload, int length) {
    return m_ipcClient.PostIPCMessage(MakeIPCReply(request, kOwnEndpoint, const_cast<char*>(payload), length));
}
