#include "ipc/IPCServer.h"

#include <exception>

#include "kva/platform/Log.h"

void CIPCServerProcBase::OnProcMessage(tagIPC_MESSAGE_ITEM& item) {
    CIPCDataIO io(item, CIPCDataIO::kReading);
    try {
        Process(io);
    } catch (const std::exception& e) {
        KVA_LOG_ERROR("typed IPC message 0x" << std::hex << m_nMessageId << std::dec << " dropped: " << e.what()
                                             << ", " << item.nMessageLen << " bytes");
    } catch (...) {
        KVA_LOG_ERROR("typed IPC message 0x" << std::hex << m_nMessageId << std::dec << " dropped: unknown error");
    }
}

CIPCServer::CIPCServer(CIPCMessageClient* pClient, bool bOwnsClient) : m_bOwnsClient(bOwnsClient), m_pClient(pClient) {}

CIPCServer::~CIPCServer() {
    UnRegisterAll();
    if (m_bOwnsClient) delete m_pClient;
}

int CIPCServer::RegisterProc(CIPCServerProcBase* pProc) {
    if (pProc == nullptr) return -1;
    std::lock_guard lock(m_mutex);
    const std::int32_t id = pProc->MessageId();
    if (m_mapProcs.count(id) != 0) return -1;
    CIPCServerProcBase* proc = m_mapProcs.emplace(id, pProc).first->second.get();
    if (m_pClient) m_pClient->RegisterMessageCallback(id, proc, &CIPCServerProcBase::OnProcMessage);
    return 1;
}

void CIPCServer::UnRegisterAll() {
    std::lock_guard lock(m_mutex);
    for (auto& [id, proc] : m_mapProcs) {
        if (m_pClient) m_pClient->UnRegisterMessageCallback(id);
        proc.reset();
    }
    m_mapProcs.clear();
}
