// The main UI's manual install requests (0xF000F), forwarded to the installer and answered with
// what it said, and the finish notices the UI gets after every install.
#include <cstring>

#include "KVADownload/InstallAdapter.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "install/SetupMessage.h"
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {
constexpr char kPdFirmwarePackage[] = "45";
}  // namespace

void CKVAServerQuery::OnRecvAppManagerUIInstallMsg(tagIPC_MESSAGE_ITEM& item) {
    if (item.nMessageLen <= 0 || !item.pszMessage) {
        KVA_LOG_ERROR("OnRecvAppManagerUIInstallMsg: get invalid message");
        return;
    }
    std::string text(item.pszMessage, strnlen(item.pszMessage, static_cast<std::size_t>(item.nMessageLen)));
    tagIPC_MESSAGE_ITEM request = item;
    request.pszMessage = nullptr;  // valid only during this call; the text is copied
    if (!m_uiInstallWorker.Post([this, request, text = std::move(text)] { HandleUIInstallRequest(request, text); })) {
        KVA_LOG_ERROR("OnRecvAppManagerUIInstallMsg: too many install requests waiting, dropped");
    }
}

void CKVAServerQuery::HandleUIInstallRequest(const tagIPC_MESSAGE_ITEM& item, const std::string& requestText) {
    std::string text = requestText;
    const _SETUP_DRIVER_MSG msg = _SETUP_DRIVER_MSG::FromJson(text);

    std::string answer;
    if (msg.id == kPdFirmwarePackage) {
        const auto rc = static_cast<std::uint32_t>(UpgradePDPackage(msg.file));
        answer = SetupAnswerBytes(rc, rc);
    } else {
        tagIPC_MESSAGE_ITEM forward =
            MakeSetupDriverItem(ipc_endpoint::kService, static_cast<std::int32_t>(plat::GetTickCount()), text);
        tagIPC_MESSAGE_ITEM reply;
        CInstallAdapter adapter(&m_ipcClient, msg.updatetype);
        if (!adapter.SendSetupIPCMessage(forward, reply, kSetupTimeoutMs)) {
            ReportEvent(evt::kSetupRequestFailed, "SetUpDriver:OnRecvAppManagerUIInstallMsg ERROR," + msg.id,
                        item.nSyncMessageId);
            KVA_LOG_ERROR("SendSetupIPCMessage error,stMessage.nSyncMessageId" << item.nSyncMessageId
                                                                               << ", stSendMsg.nSyncMessageId="
                                                                               << forward.nSyncMessageId);
        }
        if (reply.pszMessage && reply.nMessageLen > 0) answer.assign(reply.pszMessage, static_cast<std::size_t>(reply.nMessageLen));
    }

    tagIPC_MESSAGE_ITEM view;
    view.nMessageLen = static_cast<std::int32_t>(answer.size());
    view.pszMessage = answer.empty() ? nullptr : answer.data();
    const CSetupAnswer a = ReadSetupAnswer(view);
    if (a.kind == CSetupAnswer::EKind::Valid && a.result == 0) {
        InsertToFinishUpdateDB(msg.fileSize, msg.id, msg.strCurVersion, msg.strNextVersion);
    }

    tagIPC_MESSAGE_ITEM response;
    response.nReceiverID = item.nSenderID;
    response.nSenderID = ipc_endpoint::kService;
    response.nMessageID = ipc_msg::kAppManagerUIInstall;
    response.nReplyMessageID = 0;
    response.nReserved = -1;
    response.nSyncMessageId = item.nSyncMessageId;
    response.nMessageLen = view.nMessageLen;
    response.pszMessage = view.pszMessage;
    response.bReserved = false;
    if (!m_ipcClient.PostIPCMessage(response)) KVA_LOG_ERROR("install answer to the UI not sent");
}

void CKVAServerQuery::PostFinishInstallMsgToUI(const std::string& id) {
    std::string text = FinishNoticeJson(id);
    for (int message : {ipc_msg::kInstallProgress, ipc_msg::kInstallFinished}) {
        tagIPC_MESSAGE_ITEM item;
        item.nReceiverID = ipc_endpoint::kAppManager;
        item.nSenderID = ipc_endpoint::kService;
        item.nMessageID = message;
        item.nReplyMessageID = -1;
        item.nReserved = -1;
        item.nSyncMessageId = 0;
        item.nMessageLen = static_cast<std::int32_t>(text.size());
        item.pszMessage = text.data();
        item.bReserved = false;
        if (!m_ipcClient.PostIPCMessage(item)) KVA_LOG_ERROR("finish notice " << message << " not sent");
    }
}
