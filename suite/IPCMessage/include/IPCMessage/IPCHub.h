// The hub of the suite's IPC network: one ZeroMQ ROUTER that every client's connections reach.
// It routes each item by nReceiverID and fans broadcasts out to the subscribers of their topic
// (HubRouter.h has the rules). Nothing waits in the hub: an item for an endpoint that is not
// connected, or for a connection whose queue (kHubQueuePerConnection items, so a burst to a
// busy endpoint survives) is full, is dropped and counted; frames that are
// malformed or above kMaxFrameBytes are refused and counted (ZeroMQ cuts a connection that sends
// a frame above the limit).
//
// The hub runs on its own thread inside whatever process owns it (`kva suite`, a test, a
// benchmark); the peers of `kva suite` are ordinary clients in the same process. Start, Stop and
// the queries may be called from any thread; the observer runs on the hub's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "IPCMessage/IPCEndpoint.h"
#include "IPCMessage/IPCMessageItem.h"

namespace ipcmsg {

inline constexpr int kHubQueuePerConnection = 10000;

struct CHubStats {
    std::uint64_t items = 0;        // items received
    std::uint64_t deliveries = 0;   // copies handed to connections
    std::uint64_t dropped = 0;      // items with no connection to go to (or whose every target failed)
    std::uint64_t queueFull = 0;    // copies not handed over because the connection's queue was full
    std::uint64_t refused = 0;      // malformed or oversize frames, and refused announcements
    std::uint64_t connections = 0;  // connections known now
};

// What the observer sees. Items: payload valid only during the call.
struct CHubEvent {
    enum class EKind {
        Routed,     // item delivered to `deliveries` connections
        Dropped,    // item with no target (detail says why)
        Refused,    // frame not accepted (detail says why)
        Announced,  // a connection announced endpoint `endpointId`
        Subscribed, // a connection subscribed to `topic` (`filter` 0: every message of it)
        Left,       // a connection of endpoint `endpointId` (-1: none announced) went away
    };
    EKind kind = EKind::Routed;
    const tagIPC_MESSAGE_ITEM* item = nullptr;
    bool syncRequest = false;  // the item waits for a reply (SendIPCMessage)
    std::size_t deliveries = 0;
    std::int32_t endpointId = -1;
    std::uint32_t topic = 0;
    std::uint32_t filter = 0;
    std::string_view detail;
};

using HubObserver = std::function<void(const CHubEvent&)>;

class CHub {
public:
    explicit CHub(std::string endpoint = HubEndpoint());
    CHub(const CHub&) = delete;
    CHub& operator=(const CHub&) = delete;
    ~CHub();  // stops

    // Set before Start. Keep it quick: it runs on the hub's thread for every item.
    void SetObserver(HubObserver observer);
    // Binds the endpoint (for ipc://, in a folder private to the user) and starts the hub thread.
    // False when the address cannot be bound or another hub already answers there.
    bool Start();
    // Stops the thread and closes the socket; clients reconnect to the next hub at the address.
    void Stop();
    bool Running() const;
    const std::string& Endpoint() const;

    CHubStats Stats() const;
    // Waits (real time) until at least `count` connections announced `endpointId` / subscribed to
    // `topic`. For tests and tools that must know the table is ready.
    bool WaitForEndpoint(std::int32_t endpointId, std::size_t count, std::chrono::milliseconds realTimeout) const;
    bool WaitForSubscribers(std::uint32_t topic, std::size_t count, std::chrono::milliseconds realTimeout) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace ipcmsg
