#include "KVADownload/InstallAdapter.h"

#include "kva/platform/Log.h"

CInstallAdapter::CInstallAdapter(CIPCMessageClient* client, int updateType)
    : m_client(client), m_updateType(updateType) {}

// The IPC library is not part of this build yet: no request can reach the installer, so every
// setup request fails as one that got no answer.
bool CInstallAdapter::SendSetupIPCMessage(const tagIPC_MESSAGE_ITEM&, tagIPC_MESSAGE_ITEM&, unsigned int timeoutMs) {
    KVA_LOG_ERROR("setup request of type " << m_updateType << " not sent: no IPC client in this build (client "
                                           << static_cast<const void*>(m_client) << ", time-out " << timeoutMs << " ms)");
    return false;
}
