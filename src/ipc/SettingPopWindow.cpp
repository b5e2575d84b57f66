// The question to the settings window whether the application update may pop up there.
#include "ipc/IpcIds.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

bool CKVAServerQuery::SendPopWindowsMsgToSetting() {
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kSettings;
    item.nSenderID = ipc_endpoint::kService;
    item.nMessageID = ipc_msg::kSettingPopWindow;
    item.nReplyMessageID = 0;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = 0;
    item.pszMessage = nullptr;
    item.bReserved = false;
    const bool posted = m_ipcClient.PostIPCMessage(item);
    if (!posted) KVA_LOG_ERROR("settings pop-window request not sent");
    return posted;
}
