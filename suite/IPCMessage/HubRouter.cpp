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
    m_peers.erase(it);
    return true;
}

void CHubRouter::Targets(const tagIPC_MESSAGE_ITEM& item, std::vector<const Peer*>& out) const {
    if (item.nReceiverID != -1) {
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
