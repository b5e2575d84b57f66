// The hub's tables, without sockets: which connection announced which endpoint id, and which
// connections subscribed to which topics. Used by CHub on its thread only; not thread-safe.
//
// Routing rules:
//  - an item with nReceiverID -1 is a broadcast: it goes to every connection that subscribed to
//    its topic (TopicOf(nMessageID)) with filter 0 or with filter equal to the message id;
//  - any other item goes to every connection that announced nReceiverID (several clients may share
//    an id; each gets a copy);
//  - nothing is queued here: an item without a target is the caller's to drop and count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

    enum class EChange { None, Added, Refused };

    // `peer` is endpoint `endpointId` from now on (a later Hello of the same peer moves it).
    // Refused for id -1 and when the table is full.
    EChange Hello(const Peer& peer, std::int32_t endpointId);
    // Refused for a topic with low bits set and when a table is full.
    EChange Subscribe(const Peer& peer, std::uint32_t topic, std::uint32_t filter);
    // The peer left (Bye) or cannot be reached; true when it was known.
    bool Remove(const Peer& peer);

    // Appends the connections `item` goes to. The pointers stay valid until the next change.
    void Targets(const tagIPC_MESSAGE_ITEM& item, std::vector<const Peer*>& out) const;

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
    static void Erase(std::vector<const Peer*>& list, const Peer* peer);

    std::unordered_map<Peer, CPeerState> m_peers;  // node-based: key addresses are stable
    std::unordered_map<std::int32_t, std::vector<const Peer*>> m_byEndpoint;
    std::unordered_map<std::uint32_t, std::vector<const Peer*>> m_byTopic;  // a peer once per topic
};

}  // namespace ipcmsg
