#include "ClientPeer.h"

#include "IPCMessage/IPCMessageClient.h"

namespace kva {

CClientPeer::CClientPeer(Print print, int endpoint) : m_print(std::move(print)), m_endpoint(endpoint) {}

CClientPeer::~CClientPeer() { CloseClient(); }

bool CClientPeer::Start() {
    m_client = std::make_unique<CIPCMessageClient>(m_endpoint, true, false);
    Bind(*m_client);
    return m_client->WaitForHub(std::chrono::milliseconds(5000));
}

void CClientPeer::CloseClient() {
    if (m_client) m_client->Close();
    m_client.reset();
}

}  // namespace kva
