#include "IPCMessage/HubRouter.h"

#include <algorithm>

#include "IPCMessage/IPCFrame.h"

namespace ipcmsg {

CHubRouter::CPeerState* CHubRouter::Admit(const Peer& peer) {
    auto it = m_peers.find(peer);
    if (it != m_peers.end()) return &it->second;
    if (m_peers.size() >= kMaxPeers) return nullptr;
    return &m_peers.emplace(peer, CPeerState{}).first->second;
}

void CHubRouter::Erase(std::vector<const Peer*>& list, const Peer* peer) {
    list.erase(std::remove(list.begin(), list.end(), peer), list.end());
}

CHubRouter::EChange CHubRouter::Hello(const Peer& peer, std::int32_t endpointId) {
    if (endpointId == -1) return EChange::Refused;
    CPeerState* state = Admit(peer);
    if (!state) return EChange::Refused;
    if (state->endpointId == endpointId) return EChange::None;
    const Peer* key = &m_peers.find(peer)->first;
    if (state->endpointId) {
        auto old = m_byEndpoint.find(*state->endpointId);
        Erase(old->second, key);
        if (old->second.empty()) m_byEndpoint.erase(old);
    }
    state->endpointId = endpointId;
    m_byEndpoint[endpointId].push_back(key);
    return EChange::Added;
}

CHubRouter::EChange CHubRouter::Subscribe(const Peer& peer, std::uint32_t topic, std::uint32_t filter) {
    if ((topic & 0xFFFFu) != 0) return EChange::Refused;
    CPeerState* state = Admit(peer);
    if (!state) return EChange::Refused;
    auto& subs = state->subscriptions;
    const auto entry = std::make_pair(topic, filter);
    if (std::find(subs.begin(), subs.end(), entry) != subs.end()) return EChange::None;
    if (subs.size() >= kMaxSubscriptionsPerPeer) return EChange::Refused;
    const bool firstOfTopic = std::none_of(subs.begin(), subs.end(), [&](const auto& s) { return s.first == topic; });
    subs.push_back(entry);
    if (firstOfTopic) m_byTopic[topic].push_back(&m_peers.find(peer)->first);
    return EChange::Added;
}

bool CHubRouter::Remove(const Peer& peer) {
    auto it = m_peers.find(peer);
    if (it == m_peers.end()) return false;
    const Peer* key = &it->first;
    if (it->second.endpointId) {
        auto e = m_byEndpoint.find(*it->second.endpointId);
        Erase(e->second, key);
        if (e->second.empty()) m_byEndpoint.erase(e);
    }
    for (const auto& [topic, filter] : it->second.subscriptions) {
        auto t = m_byTopic.find(topic);
        if (t == m_byTopic.end()) continue;  // already taken out for an earlier filter
        Erase(t->second, key);
        if (t->second.empty()) m_byTopic.erase(t);
    }
    for (auto p = m_pendingSync.begin(); p != m_pendingSync.end();) {
        p = p->second == peer ? m_pendingSync.erase(p) : std::next(p);
    }
    m_peers.erase(it);
    return true;
}

std::size_t CHubRouter::CSyncKeyHash::operator()(const SyncKey& k) const {
    const auto a = static_cast<std::uint64_t>(static_cast<std::uint32_t>(std::get<0>(k)));
    const auto b = static_cast<std::uint64_t>(static_cast<std::uint32_t>(std::get<1>(k)));
    const auto c = static_cast<std::uint64_t>(static_cast<std::uint32_t>(std::get<2>(k)));
    return std::hash<std::uint64_t>()((a << 32 | b) ^ (c * 0x9E3779B97F4A7C15ull));
}

std::optional<CHubRouter::Peer> CHubRouter::ReceivingPeerOf(const Peer& from) const {
    if (Knows(from)) return from;
    if (from.empty() || from[0] != kSendingMark) return std::nullopt;
    Peer receiving = from;
    receiving[0] = kReceivingMark;
    if (!Knows(receiving)) return std::nullopt;
    return receiving;
}

void CHubRouter::NoteSyncRequest(const Peer& from, const tagIPC_MESSAGE_ITEM& request) {
    if (request.nSenderID == -1) return;  // an answer to -1 would be a broadcast
    const auto waiting = ReceivingPeerOf(from);
    if (!waiting) return;
    const SyncKey key{request.nSenderID, request.nMessageID, request.nSyncMessageId};
    while (m_pendingSync.size() >= kMaxPendingSync && !m_pendingOrder.empty()) {
        m_pendingSync.erase(m_pendingOrder.front());
        m_pendingOrder.pop_front();
    }
    m_pendingSync[key] = *waiting;
    m_pendingOrder.push_back(key);
    // Answered keys stay in the order list; keep it from growing past a few times the table.
    if (m_pendingOrder.size() > 4 * kMaxPendingSync) {
        std::deque<SyncKey> live;
        for (const auto& k : m_pendingOrder) {
            if (m_pendingSync.count(k)) live.push_back(k);
        }
        m_pendingOrder.swap(live);
    }
}

void CHubRouter::Targets(const tagIPC_MESSAGE_ITEM& item, std::vector<const Peer*>& out) {
    if (item.nReceiverID != -1) {
        if (!m_pendingSync.empty()) {
            auto pending = m_pendingSync.find(SyncKey{item.nReceiverID, item.nMessageID, item.nSyncMessageId});
            if (pending != m_pendingSync.end()) {
                auto waiting = m_peers.find(pending->second);
                m_pendingSync.erase(pending);
                if (waiting != m_peers.end()) {
                    out.push_back(&waiting->first);
                    return;
                }
            }
        }
        auto it = m_byEndpoint.find(item.nReceiverID);
        if (it != m_byEndpoint.end()) out.insert(out.end(), it->second.begin(), it->second.end());
        return;
    }
    const std::uint32_t topic = TopicOf(item.nMessageID);
    auto it = m_byTopic.find(topic);
    if (it == m_byTopic.end()) return;
    const auto id = static_cast<std::uint32_t>(item.nMessageID);
    for (const Peer* peer : it->second) {
        const auto& subs = m_peers.find(*peer)->second.subscriptions;
        if (std::any_of(subs.begin(), subs.end(),
                        [&](const auto& s) { return s.first == topic && (s.second == 0 || s.second == id); })) {
            out.push_back(peer);
        }
    }
}

std::vector<CHubRouter::Peer> CHubRouter::Peers() const {
    std::vector<Peer> out;
    out.reserve(m_peers.size());
    for (const auto& [peer, state] : m_peers) out.push_back(peer);
    return out;
}

std::size_t CHubRouter::EndpointCount(std::int32_t endpointId) const {
    auto it = m_byEndpoint.find(endpointId);
    return it == m_byEndpoint.end() ? 0 : it->second.size();
}

std::size_t CHubRouter::SubscriberCount(std::uint32_t topic) const {
    auto it = m_byTopic.find(topic);
    return it == m_byTopic.end() ? 0 : it->second.size();
}

std::optional<std::int32_t> CHubRouter::EndpointOf(const Peer& peer) const {
    auto it = m_peers.find(peer);
    return it == m_peers.end() ? std::nullopt : it->second.endpointId;
}

}  // namespace ipcmsg
