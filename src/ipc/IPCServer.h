// Typed requests: IPC messages whose payload is a serialised record (a 32-bit format version, 1,
// then the record's fields through CIPCDataIO). A handler (CIPCServerProc) reads the record and
// calls a member function of its target with it; CIPCServer keeps the handlers of one client.
//
// Threads: OnProcMessage runs on the IPC client's callback thread. CIPCServer's calls may come
// from any thread; its map is guarded by its mutex.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "IPCMessage/IPCMessageClient.h"
#include "ipc/IPCDataIO.h"

inline constexpr std::int32_t kTypedRequestVersion = 1;

// One typed handler. Owned by CIPCServer once registered.
class CIPCServerProcBase {
public:
    explicit CIPCServerProcBase(std::int32_t nMessageId) : m_nMessageId(nMessageId) {}
    CIPCServerProcBase(const CIPCServerProcBase&) = delete;
    CIPCServerProcBase& operator=(const CIPCServerProcBase&) = delete;
    virtual ~CIPCServerProcBase() = default;
    // Reads the request from the cursor and calls the target. Throws the cursor's errors, and
    // "Invalid Serialize ver" for a version other than 1.
    virtual void Process(IIPCDataIO& io) = 0;

    // The callback registered with the client: reads the item through a reading cursor and calls
    // Process. A request that cannot be read is logged and dropped here; the target is not called
    // and no error reaches the IPC library.
    void OnProcMessage(tagIPC_MESSAGE_ITEM& item);

    std::int32_t MessageId() const { return m_nMessageId; }

private:
    std::int32_t m_nMessageId;
};

// Reads the argument record (IPCRead, found by argument-dependent lookup next to the record's
// type) and calls `method` on `target`. TResult is what the method returns (ignored; void here).
template <class TTarget, class TResult, class TArg>
class CIPCServerProc final : public CIPCServerProcBase {
public:
    using Method = TResult (TTarget::*)(TArg);
    using Record = std::remove_cv_t<std::remove_reference_t<TArg>>;

    CIPCServerProc(std::int32_t nMessageId, TTarget* pTarget, Method pfnMethod)
        : CIPCServerProcBase(nMessageId), m_pTarget(pTarget), m_pfnMethod(pfnMethod) {}

    void Process(IIPCDataIO& io) override {
        if (io.ReadInt32() != kTypedRequestVersion) throw std::runtime_error("Invalid Serialize ver");
        Record record{};
        IPCRead(io, record);
        (m_pTarget->*m_pfnMethod)(record);
    }

private:
    TTarget* m_pTarget;
    Method m_pfnMethod;
};

// The payload of a typed request carrying `record` (IPCWrite next to the record's type).
template <class TRecord>
std::string SerializeTypedRequest(const TRecord& record) {
    tagIPC_MESSAGE_ITEM item;
    CIPCDataIO io(item, CIPCDataIO::kWriting);
    io.WriteInt32(kTypedRequestVersion);
    IPCWrite(io, record);
    return std::string(item.pszMessage, io.Position());
}

class CIPCServer {
public:
    // `pClient` may be null (nothing is registered then); it is deleted at the end only when
    // `bOwnsClient`.
    CIPCServer(CIPCMessageClient* pClient, bool bOwnsClient);
    CIPCServer(const CIPCServer&) = delete;
    CIPCServer& operator=(const CIPCServer&) = delete;
    ~CIPCServer();

    // Takes `pProc` and registers its OnProcMessage with the client under its id: 1. When the id
    // is already taken: -1, the first handler stays, and the caller still owns (and deletes) pProc.
    int RegisterProc(CIPCServerProcBase* pProc);
    // Unregisters every handler from the client in id order and deletes it. When it returns, no
    // handler of this server runs any more.
    void UnRegisterAll();

private:
    bool m_bOwnsClient;
    std::mutex m_mutex;
    CIPCMessageClient* m_pClient;
    std::map<std::int32_t, std::unique_ptr<CIPCServerProcBase>> m_mapProcs;  // guarded by m_mutex
};
