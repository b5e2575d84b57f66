#include "IPCMessage/IPCHub.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "IPCMessage/HubRouter.h"
#include "IPCMessage/IPCFrame.h"
#include "Util/MemberList.h"
#include "ZmqSupport.h"
#include "kva/platform/Log.h"

namespace ipcmsg {

namespace {

constexpr std::chrono::milliseconds kProbeTimeout(300);

std::atomic<unsigned> g_hubCounter{0};

// Is a hub already answering at an ipc:// address whose socket file exists?
bool AnotherHubAnswers(zmq::context_t& ctx, const std::string& endpoint) {
    constexpr std::string_view scheme = "ipc://";
    if (endpoint.rfind(scheme, 0) != 0) return false;
    std::error_code ec;
    if (!std::filesystem::exists(endpoint.substr(scheme.size()), ec)) return false;
    try {
        zmq::socket_t probe(ctx, zmq::socket_type::dealer);
        probe.set(zmq::sockopt::linger, 0);
        probe.connect(endpoint);
        tagIPC_MESSAGE_ITEM ping;
        zmq::message_t msg(FrameSize(0));
        EncodeFrame(EFrameKind::Ping, 0, ping, msg.data<std::uint8_t>());
        BeforeSend(msg);
        if (!probe.send(msg, zmq::send_flags::dontwait)) return false;
        zmq::pollitem_t item{probe.handle(), 0, ZMQ_POLLIN, 0};
        return zmq::poll(&item, 1, kProbeTimeout) > 0;
    } catch (const zmq::error_t&) {
        return false;
    }
}

std::string StopToken() {
    std::random_device random;
    std::string token(32, '\0');
    for (char& c : token) c = static_cast<char>(random());
    return token;
}

}  // namespace

struct CHub::Impl {
    explicit Impl(std::string ep) : endpoint(std::move(ep)) {}

    const std::string endpoint;
    HubObserver observer;

    std::mutex lifeMutex;  // Start/Stop
    std::shared_ptr<zmq::context_t> ctx;
    zmq::socket_t router;   // hub thread while it runs
    // The hub thread blocks in a receive on the router alone, as a bare ZeroMQ hub does (a poll set
    // costs several system calls per item). Stop reaches it through the router itself: a frame of
    // random bytes, fresh at each start, that only `stopper` (inside this process) sends.
    zmq::socket_t stopper;  // Stop, under lifeMutex
    std::string stopToken;
    std::thread thread;
    std::atomic<bool> running{false};

    // Hub thread only.
    CHubRouter table;
    std::vector<const CHubRouter::Peer*> targets;

    std::atomic<std::uint64_t> items{0}, deliveries{0}, dropped{0}, queueFull{0}, refused{0}, connections{0};

    // What WaitFor* look at: counts copied from the table after each change.
    mutable std::mutex infoMutex;
    mutable std::condition_variable infoCv;
    std::map<std::int32_t, std::size_t> endpointCounts;
    std::map<std::uint32_t, std::size_t> topicCounts;

    void Notify(const CHubEvent& event) {
        if (!observer) return;
        try {
            observer(event);
        } catch (const std::exception& e) {
            KVA_LOG_ERROR("hub observer failed: " << e.what());
        }
    }

    void Refuse(std::string_view why) {
        refused.fetch_add(1, std::memory_order_relaxed);
        CHubEvent ev;
        ev.kind = CHubEvent::EKind::Refused;
        ev.detail = why;
        Notify(ev);
    }

    void PublishCounts(std::int32_t endpointId, std::optional<std::uint32_t> topic) {
        {
            std::lock_guard lock(infoMutex);
            endpointCounts[endpointId] = table.EndpointCount(endpointId);
            if (topic) topicCounts[*topic] = table.SubscriberCount(*topic);
            connections.store(table.PeerCount(), std::memory_order_relaxed);
        }
        infoCv.notify_all();
    }

    void PublishAll() {
        {
            std::lock_guard lock(infoMutex);
            for (auto& [id, n] : endpointCounts) n = table.EndpointCount(id);
            for (auto& [topic, n] : topicCounts) n = table.SubscriberCount(topic);
            connections.store(table.PeerCount(), std::memory_order_relaxed);
        }
        infoCv.notify_all();
    }

    // Hands one copy of `frame` to `peer`. False when the peer is gone (then it is forgotten) or
    // its queue is full.
    bool SendTo(const CHubRouter::Peer& peer, zmq::message_t& frame) {
        if (zmq_send(router.handle(), peer.data(), peer.size(), ZMQ_SNDMORE | ZMQ_DONTWAIT) < 0) {
            if (zmq_errno() == EHOSTUNREACH) {
                const CHubRouter::Peer gone = peer;
                ForgetPeer(gone);
            } else {
                queueFull.fetch_add(1, std::memory_order_relaxed);
            }
            return false;
        }
        BeforeSend(frame);
        zmq_msg_t copy;
        zmq_msg_init(&copy);
        zmq_msg_copy(&copy, frame.handle());
        if (zmq_msg_send(&copy, router.handle(), ZMQ_DONTWAIT) < 0) {
            zmq_msg_close(&copy);
            return false;
        }
        return true;
    }

    void Ack(const CHubRouter::Peer& peer, std::int32_t seq, bool accepted) {
        tagIPC_MESSAGE_ITEM ack;
        ack.nSyncMessageId = seq;
        ack.nMessageID = accepted ? 0 : 1;
        zmq::message_t msg(FrameSize(0));
        EncodeFrame(EFrameKind::Ack, 0, ack, msg.data<std::uint8_t>());
        SendTo(peer, msg);
    }

    void ForgetPeer(const CHubRouter::Peer& peer) {
        const auto endpointId = table.EndpointOf(peer);
        if (!table.Remove(peer)) return;
        PublishAll();
        CHubEvent ev;
        ev.kind = CHubEvent::EKind::Left;
        ev.endpointId = endpointId.value_or(-1);
        Notify(ev);
    }

    // Connections that vanished without a Bye (killed clients) stay in the table until a send to
    // them fails. When the table is full, a keep-alive to every connection finds and forgets them.
    void MakeRoomFor(const CHubRouter::Peer& peer) {
        if (!table.Full() || table.Knows(peer)) return;
        tagIPC_MESSAGE_ITEM keepAlive;
        zmq::message_t msg(FrameSize(0));
        EncodeFrame(EFrameKind::Ack, 0, keepAlive, msg.data<std::uint8_t>());
        for (const auto& p : table.Peers()) SendTo(p, msg);
    }

    void Route(const CHubRouter::Peer& from, const CFrame& frame, zmq::message_t& bytes) {
        items.fetch_add(1, std::memory_order_relaxed);
        if (frame.flags & kFlagSyncRequest) table.NoteSyncRequest(from, frame.item);
        targets.clear();
        table.Targets(frame.item, targets);
        // SendTo may forget a peer, which invalidates its pointer: copy the identities first.
        std::size_t delivered = 0;
        if (targets.size() == 1) {
            const CHubRouter::Peer peer = *targets[0];
            delivered = SendTo(peer, bytes) ? 1 : 0;
        } else if (!targets.empty()) {
            std::vector<CHubRouter::Peer> peers;
            peers.reserve(targets.size());
            for (const auto* p : targets) peers.push_back(*p);
            for (const auto& p : peers) delivered += SendTo(p, bytes) ? 1 : 0;
        }
        deliveries.fetch_add(delivered, std::memory_order_relaxed);
        CHubEvent ev;
        ev.item = &frame.item;
        ev.syncRequest = (frame.flags & kFlagSyncRequest) != 0;
        if (delivered == 0) {
            dropped.fetch_add(1, std::memory_order_relaxed);
            ev.kind = CHubEvent::EKind::Dropped;
            ev.detail = targets.empty() ? (frame.item.nReceiverID == -1 ? "no subscriber" : "endpoint not connected")
                                        : "every target unreachable or full";
        } else {
            ev.kind = CHubEvent::EKind::Routed;
            ev.deliveries = delivered;
        }
        Notify(ev);
    }

    void Handle(const CHubRouter::Peer& peer, zmq::message_t& bytes) {
        CFrame frame;
        const EFrameError err = DecodeFrame(bytes.data<std::uint8_t>(), bytes.size(), &frame);
        if (err != EFrameError::None) {
            Refuse(FrameErrorText(err));
            return;
        }
        const auto& item = frame.item;
        switch (frame.kind) {
            case EFrameKind::Item:
                Route(peer, frame, bytes);
                return;
            case EFrameKind::Hello: {
                MakeRoomFor(peer);
                const auto before = table.EndpointOf(peer);
                const auto change = table.Hello(peer, item.nSenderID);
                Ack(peer, item.nSyncMessageId, change != CHubRouter::EChange::Refused);
                if (change == CHubRouter::EChange::Refused) {
                    Refuse("announcement refused");
                } else if (change == CHubRouter::EChange::Added) {
                    if (before) PublishCounts(*before, std::nullopt);
                    PublishCounts(item.nSenderID, std::nullopt);
                    CHubEvent ev;
                    ev.kind = CHubEvent::EKind::Announced;
                    ev.endpointId = item.nSenderID;
                    Notify(ev);
                }
                return;
            }
            case EFrameKind::Subscribe: {
                MakeRoomFor(peer);
                const auto topic = static_cast<std::uint32_t>(item.nMessageID);
                const auto filter = static_cast<std::uint32_t>(item.nReplyMessageID);
                const auto change = table.Subscribe(peer, topic, filter);
                Ack(peer, item.nSyncMessageId, change != CHubRouter::EChange::Refused);
                if (change == CHubRouter::EChange::Refused) {
                    Refuse("subscription refused");
                } else if (change == CHubRouter::EChange::Added) {
                    PublishCounts(table.EndpointOf(peer).value_or(-1), topic);
                    CHubEvent ev;
                    ev.kind = CHubEvent::EKind::Subscribed;
                    ev.endpointId = table.EndpointOf(peer).value_or(-1);
                    ev.topic = topic;
                    ev.filter = filter;
                    Notify(ev);
                }
                return;
            }
            case EFrameKind::Bye:
                ForgetPeer(peer);
                return;
            case EFrameKind::Ping:
                Ack(peer, item.nSyncMessageId, true);
                return;
            case EFrameKind::Ack:
                Refuse("acknowledgement sent to the hub");
                return;
        }
    }

    bool IsStop(const zmq::message_t& bytes) const {
        return bytes.size() == stopToken.size() &&
               std::equal(stopToken.begin(), stopToken.end(), bytes.data<char>());
    }

    void Run() {
        zmq::message_t identity;
        zmq::message_t bytes;
        CHubRouter::Peer peer;
        for (;;) {
            if (zmq_msg_recv(identity.handle(), router.handle(), 0) < 0) {
                if (zmq_errno() == EINTR) continue;
                KVA_LOG_ERROR("hub receive failed: " << zmq_strerror(zmq_errno()));
                break;
            }
            if (!identity.more()) continue;  // ROUTER always adds the identity part
            zmq_msg_recv(bytes.handle(), router.handle(), 0);
            AfterReceive(bytes);
            if (bytes.more()) {
                while (bytes.more()) zmq_msg_recv(bytes.handle(), router.handle(), 0);
                Refuse("multi-part frame");
                continue;
            }
            if (IsStop(bytes)) break;
            peer.assign(identity.data<char>(), identity.size());
            Handle(peer, bytes);
        }
    }
};

CHub::CHub(std::string endpoint) : m_impl(std::make_unique<Impl>(std::move(endpoint))) {}

CHub::~CHub() { Stop(); }

void CHub::SetObserver(HubObserver observer) {
    std::lock_guard lock(m_impl->lifeMutex);
    if (!m_impl->running) m_impl->observer = std::move(observer);
}

bool CHub::Start() {
    Impl& d = *m_impl;
    std::lock_guard lock(d.lifeMutex);
    if (d.running) return true;
    if (!PrepareEndpoint(d.endpoint)) return false;
    d.ctx = SharedZmqContext();
    if (AnotherHubAnswers(*d.ctx, d.endpoint)) {
        KVA_LOG_ERROR("another hub already answers at " << d.endpoint);
        d.ctx.reset();
        return false;
    }
    try {
        d.router = zmq::socket_t(*d.ctx, zmq::socket_type::router);
        d.router.set(zmq::sockopt::linger, 0);
        d.router.set(zmq::sockopt::router_mandatory, 1);
        // A client that reconnects keeps its connection names; the new connection takes them over.
        d.router.set(zmq::sockopt::router_handover, 1);
        d.router.set(zmq::sockopt::sndhwm, kHubQueuePerConnection);
        d.router.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(kMaxFrameBytes));
        d.router.bind(d.endpoint);
        const std::string stop = "inproc://kva-hub-stop-" + std::to_string(g_hubCounter.fetch_add(1));
        d.router.bind(stop);
        d.stopper = zmq::socket_t(*d.ctx, zmq::socket_type::dealer);
        d.stopper.set(zmq::sockopt::linger, 0);
        d.stopper.connect(stop);
        d.stopToken = StopToken();
    } catch (const zmq::error_t& e) {
        KVA_LOG_ERROR("cannot start the hub at " << d.endpoint << ": " << e.what());
        d.router.close();
        d.stopper.close();
        d.ctx.reset();
        return false;
    }
    d.table = CHubRouter();
    {
        std::lock_guard info(d.infoMutex);
        d.endpointCounts.clear();
        d.topicCounts.clear();
    }
    d.connections = 0;
    d.running = true;
    d.thread = std::thread([&d] { d.Run(); });
    KVA_LOG_WARN("hub listening at " << d.endpoint);
    return true;
}

void CHub::Stop() {
    Impl& d = *m_impl;
    std::lock_guard lock(d.lifeMutex);
    if (!d.running) return;
    zmq::message_t stop(d.stopToken.data(), d.stopToken.size());
    BeforeSend(stop);
    // An inproc pipe with room: the send neither waits nor fails while the context lives.
    if (zmq_msg_send(stop.handle(), d.stopper.handle(), 0) < 0) {
        KVA_LOG_ERROR("stop frame to the hub at " << d.endpoint << " not sent: " << zmq_strerror(zmq_errno()));
    }
    d.thread.join();
    d.table = CHubRouter();
    d.router.close();
    d.stopper.close();
    d.ctx.reset();
    d.running = false;
    d.PublishAll();
    KVA_LOG_WARN("hub stopped at " << d.endpoint);
}

bool CHub::Running() const { return m_impl->running; }

const std::string& CHub::Endpoint() const { return m_impl->endpoint; }

CHubStats CHub::Stats() const {
    return suite::LoadMembers<CHubStats>(*m_impl, [](auto&& visit) {
        KVA_FOR_EACH_MEMBER(visit, items, deliveries, dropped, queueFull, refused, connections);
    });
}

bool CHub::WaitForEndpoint(std::int32_t endpointId, std::size_t count, std::chrono::milliseconds realTimeout) const {
    std::unique_lock lock(m_impl->infoMutex);
    return m_impl->infoCv.wait_for(lock, realTimeout, [&] {
        auto it = m_impl->endpointCounts.find(endpointId);
        return it != m_impl->endpointCounts.end() && it->second >= count;
    });
}

bool CHub::WaitForSubscribers(std::uint32_t topic, std::size_t count, std::chrono::milliseconds realTimeout) const {
    std::unique_lock lock(m_impl->infoMutex);
    return m_impl->infoCv.wait_for(lock, realTimeout, [&] {
        auto it = m_impl->topicCounts.find(topic);
        return it != m_impl->topicCounts.end() && it->second >= count;
    });
}

}  // namespace ipcmsg
