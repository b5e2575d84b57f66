// What the IPC tests share: a hub per test (inproc:// or ipc:// in the test's state folder) and a
// recorder of received items that a test can wait on without sleeping.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "IPCMessage/IPCHub.h"
#include "IPCMessage/IPCMessageClient.h"
#include "TestMachine.h"

namespace kvatest {

inline constexpr std::chrono::milliseconds kRealTimeout(10000);

// A received item, copied.
struct CSeenItem {
    tagIPC_MESSAGE_ITEM item;
    std::string payload;
    bool terminated = false;  // the byte after the payload was 0
};

class CRecorder {
public:
    // The callable to register; records every item it is given.
    CIPCMessageClient::MessageCallback Callback();
    void Record(const tagIPC_MESSAGE_ITEM& item);
    // Waits (real time) until `count` items were recorded.
    bool WaitFor(std::size_t count, std::chrono::milliseconds realTimeout = kRealTimeout) const;
    std::vector<CSeenItem> Items() const;
    std::size_t Count() const;
    std::size_t Count(std::int32_t messageId) const;
    // Waits (real time) for the first item of `messageId` not taken yet, and takes it.
    std::optional<CSeenItem> Take(std::int32_t messageId, std::chrono::milliseconds realTimeout = kRealTimeout);

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::vector<CSeenItem> m_items;
    std::vector<bool> m_taken;
};

// Asks `to` through `client`, stating `from` as the sender, and waits up to `timeoutMs` of service
// time: the answer's payload, or nullopt when none came. `reply` gets the answer's header.
std::optional<std::string> Ask(CIPCMessageClient& client, std::int32_t to, std::int32_t from, std::int32_t msg,
                               std::int32_t sync = 0, tagIPC_MESSAGE_ITEM* reply = nullptr, std::string payload = {},
                               int timeoutMs = 20000);

enum class EHubTransport { Inproc, Ipc };

// A test machine with a running hub that every client of the test process reaches.
class CIpcTest : public CTestMachine {
protected:
    explicit CIpcTest(EHubTransport transport = EHubTransport::Inproc) : m_transport(transport) {}
    void SetUp() override;
    void TearDown() override;

    ipcmsg::CHub& Hub() { return *m_hub; }
    const std::string& Endpoint() const { return m_endpoint; }
    // A receiving client already known to the hub.
    std::unique_ptr<CIPCMessageClient> Client(int endpointId, bool inlineDispatch = false);

public:
    // An item that carries `payload` without its terminator (the string must outlive the item).
    static tagIPC_MESSAGE_ITEM Item(std::int32_t to, std::int32_t from, std::int32_t msg, std::string& payload);

private:
    EHubTransport m_transport;
    std::string m_endpoint;
    std::unique_ptr<ipcmsg::CHub> m_hub;
};

}  // namespace kvatest
