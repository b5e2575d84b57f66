// The question to the settings window whether the application update may pop up there.
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

bool CKVAServerQuery::SendPopWindowsMsgToSetting() {
    const tagIPC_MESSAGE_ITEM item =
        MakeIPCRequest(ipc_endpoint::kSettings, ipc_endpoint::kService, ipc_msg::kSettingPopWindow, 0, nullptr, 0);
    const bool posted = m_ipcClient.PostIPCMessage(item);
    if (!posted) KVA_LOG_ERROR("settings pop-window request not sent");
    return posted;
}
