#include "KVADownload/InstallAdapter.h"

#include "IPCMessage/IPCMessageClient.h"
#include "kva/platform/Log.h"

CInstallAdapter::CInstallAdapter(CIPCMessageClient* client, int updateType)
    : m_client(client), m_updateType(updateType) {}

bool CInstallAdapter::SendSetupIPCMessage(const tagIPC_MESSAGE_ITEM& request, tagIPC_MESSAGE_ITEM& answer,
                                          unsigned int timeoutMs) {
    answer = tagIPC_MESSAGE_ITEM{};
    answer.nReceiverID = -1;
    answer.nSenderID = -1;
    answer.nMessageID = -1;
    answer.nReplyMessageID = -1;
    answer.nReserved = -1;
    answer.nSyncMessageId = 0;
    answer.nMessageLen = 0;
    answer.pszMessage = nullptr;
    if (!m_client) {
        KVA_LOG_ERROR("setup request of type " << m_updateType << " not sent: no IPC client");
        return false;
    }
    tagIPC_MESSAGE_ITEM reply;
    if (!m_client->SendIPCMessage(request, reply, timeoutMs)) {
        KVA_LOG_ERROR("no answer to the setup request of type " << m_updateType << " within " << timeoutMs << " ms");
        return false;
    }
    answer = reply;  // the payload stays valid until this thread's next SendIPCMessage
    return true;
}
