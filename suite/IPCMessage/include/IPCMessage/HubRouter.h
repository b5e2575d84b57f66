// The hub's tables, without sockets: which connection announced which endpoint id, and which
// connections subscribed to which topics. Used by CHub on its thread only; not thread-safe.
//
// Routing rules:
//  - an item with nReceiverID -1 is a broadcast: it goes to every connection that subscribed to
//    its topic (TopicOf(nMessageID)) with filter 0 or with filter equal to the message id;
//  - an answer to a waiting request (SendIPCMessage) goes back to the one connection that waits for
//    it, whatever the answer's receiver id stands for: a request from connection C with sender S,
//    message M and sync id Y is noted, and the next item addressed to S with message M and sync id Y
//    goes to C alone (then the note is gone). So a client may send on behalf of another endpoint
//    (the service asks the installer with sender 0xF0000) and still get its answer, and that answer
//    never reaches the endpoint it was sent on behalf of. When C has left, the answer is routed as
//    any other item. At most kMaxPendingSync notes are kept; the oldest goes first;
//  - any other item goes to every connection that announced nReceiverID. Several clients may
//    announce the same id (the service and the driver-notice controller both are 0x50000): each
//    gets a copy and handles the message ids it registered; none replaces the other, because
//    a process that announces an id in use must not silence the endpoint already there;
//  - nothing is queued here: an item without a target is the caller's to drop and count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "IPCMessage/IPCMessageItem.h"

namespace ipcmsg {

class CHubRouter {
public:
    using Peer = std::string;  // a connection's routing identity
    static constexpr std::size_t kMaxPeers = 4096;
    static constexpr std::size_t kMaxSubscriptionsPerPeer = 64;
    static constexpr std::size_t kMaxPendingSync = 4096;

    enum class EChange { None, Added, Refused };

    // `peer` is endpoint `endpointId` from now on (a later Hello of the same peer moves it).
    // Refused for id -1 and when the table is full.
    EChange Hello(const Peer& peer, std::int32_t endpointId);
    // Refused for a topic with low bits set and when a table is full.
    EChange Subscribe(const Peer& peer, std::uint32_t topic, std::uint32_t filter);
    // The peer left (Bye) or cannot be reached; true when it was known.
    bool Remove(const Peer& peer);

    // `from` sent `request` and waits for its answer on `from` itself or, when `from` is the sending
    // connection of a client (IPCFrame.h: kSendingMark), on that client's receiving connection.
    void NoteSyncRequest(const Peer& from, const tagIPC_MESSAGE_ITEM& request);
    // Appends the connections `item` goes to. The pointers stay valid until the next change. An
    // answer to a noted request uses up its note.
    void Targets(const tagIPC_MESSAGE_ITEM& item, std::vector<const Peer*>& out);
    std::size_t PendingSyncCount() const { return m_pendingSync.size(); }

    std::size_t PeerCount() const { return m_peers.size(); }
    bool Full() const { return m_peers.size() >= kMaxPeers; }
    bool Knows(const Peer& peer) const { return m_peers.count(peer) != 0; }
    std::vector<Peer> Peers() const;
    std::size_t EndpointCount(std::int32_t endpointId) const;
    std::size_t SubscriberCount(std::uint32_t topic) const;
    std::optional<std::int32_t> EndpointOf(const Peer& peer) const;

private:
    struct CPeerState {
        std::optional<std::int32_t> endpointId;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> subscriptions;  // (topic, filter)
    };

    CPeerState* Admit(const Peer& peer);
    std::optional<Peer> ReceivingPeerOf(const Peer& from) const;
    static void Erase(std::vector<const Peer*>& list, const Peer* peer);

    std::unordered_map<Peer, CPeerState> m_peers;  // node-based: key addresses are stable
    std::unordered_map<std::int32_t, std::vector<const Peer*>> m_byEndpoint;
    std::unordered_map<std::uint32_t, std::vector<const Peer*>> m_byTopic;  // a peer once per topic

    // (answer's receiver, message id, sync id) of a waiting request, and the connection waiting.
    using SyncKey = std::tuple<std::int32_t, std::int32_t, std::int32_t>;
    struct CSyncKeyHash {
        std::size_t operator()(const SyncKey& k) const;
    };
    std::unordered_map<SyncKey, Peer, CSyncKeyHash> m_pendingSync;
    std::deque<SyncKey> m_pendingOrder;  // oldest first; may hold keys already answered
};

}  // namespace ipcmsg
