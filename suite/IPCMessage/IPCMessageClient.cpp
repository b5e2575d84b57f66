#include "IPCMessage/IPCMessageClient.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <random>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "IPCMessage/IPCEndpoint.h"
#include "IPCMessage/IPCFrame.h"
#include "Util/MemberList.h"
#include "ZmqSupport.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "kva/platform/Mutex.h"

using ipcmsg::CFrame;
using ipcmsg::EFrameError;
using ipcmsg::EFrameKind;

namespace {

// 24 hex digits, unique among the clients of every process of the machine for practical purposes.
std::string ConnectionToken() {
    static std::mutex m;
    static std::mt19937_64 gen{(static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}()};
    std::lock_guard lock(m);
    char text[25];
    std::snprintf(text, sizeof text, "%016llx%08x", static_cast<unsigned long long>(gen()),
                  static_cast<unsigned>(gen() & 0xFFFFFFFFu));
    return text;
}

constexpr int kSendLingerMs = 500;  // what a destroyed client's queued posts get to leave
constexpr int kPostWaitMs = 100;    // how long a post waits for room in a full queue
constexpr int kRecvLingerMs = 100;  // for the Bye
constexpr int kReconnectMs = 20;
// Without a hub the sockets retry with a doubling wait; a laptop without the suite then wakes
// about once a minute per socket instead of several times a second.
constexpr int kReconnectMaxMs = 60000;
constexpr auto kReannounce = std::chrono::seconds(5);
constexpr auto kReannounceMax = std::chrono::seconds(60);  // no hub at all: one wake-up a minute
constexpr std::size_t kMaxUnacked = 16;
constexpr std::size_t kMaxQueued = 1000;  // received items waiting while a callback runs
constexpr int kRecvBatch = 256;           // frames taken between two polls
// A callback that runs longer than this gets the other worker to take over receiving; after this
// long without callbacks that worker ends (the next callback starts it again).
constexpr auto kRelief = std::chrono::milliseconds(1);
constexpr auto kQuiet = std::chrono::milliseconds(50);

std::atomic<unsigned> g_clientCounter{0};

// The client whose callbacks this thread is running, if any.
thread_local const void* t_dispatching = nullptr;

// The payload of this thread's last reply (SendIPCMessage).
thread_local std::string t_replyPayload;

struct CPending {
    CPending(std::int32_t id, std::int32_t sync) : messageId(id), syncId(sync) {}
    const std::int32_t messageId;
    const std::int32_t syncId;
    plat::CEvent done;
    zmq::message_t reply;  // guarded by pendingMutex
    bool completed = false;
};

std::string Hex(std::int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%X", static_cast<unsigned>(v));
    return buf;
}

bool Decode(const zmq::message_t& m, CFrame* frame) {
    return ipcmsg::DecodeFrame(m.data<std::uint8_t>(), m.size(), frame) == EFrameError::None;
}

}  // namespace

struct CIPCMessageClient::Impl : std::enable_shared_from_this<CIPCMessageClient::Impl> {
    Impl(int id, bool receiveFlag, bool inlineFlag)
        : endpointId(id), receive(receiveFlag), singleThread(inlineFlag), endpoint(ipcmsg::HubEndpoint()) {}

    const std::int32_t endpointId;
    bool receive;  // set at construction only
    const bool singleThread;  // bInlineDispatch: one thread receives and runs callbacks
    const std::string endpoint;
    bool broken = false;  // set at construction only
    std::shared_ptr<zmq::context_t> ctx;  // declared before the sockets: closed after them

    // Posting, from any thread.
    std::mutex sendMutex;
    zmq::socket_t sendSock;  // guarded by sendMutex
    bool sendOpen = false;   // guarded by sendMutex
    std::atomic<bool> lastPostFailed{false};

    // Waking the receiving thread, and the subscriptions it sends, from any thread.
    std::mutex ctlMutex;
    zmq::socket_t ctlSend;                                                 // guarded by ctlMutex
    // Set after each command is sent: a worker that keeps reading a steady stream, and so does not
    // wait on the sockets, still sees commands.
    std::atomic<bool> commandSent{false};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> subscriptions;  // guarded by ctlMutex
    std::uint64_t generation = 1;  // guarded by ctlMutex; +1 per subscription, 1 is the announcement

    // The receiving role: whichever worker thread holds it (`polling`) owns these; the role passes
    // between the workers under turnMutex, which orders their use of the sockets.
    zmq::socket_t ctlRecv, recvSock, monitor;
    zmq_fd_t ctlFd{}, monitorFd{}, recvFd{};  // their notification descriptors
    struct {
        bool control = true, monitor = true, items = true;
    } mayRead;  // which of them may hold something not yet read
    std::size_t subscriptionsSent = 0;
    std::int32_t controlSeq = 0;
    std::deque<std::pair<std::int32_t, std::uint64_t>> unacked;  // (sequence, generation it covers)
    std::chrono::steady_clock::time_point nextAnnounce;  // while an announcement waits for its ack
    std::chrono::milliseconds reannounceDelay{kReannounce};
    // The receiving socket has a live connection to the hub; written by the receiving role, read at
    // shutdown, when a socket without one is closed at once instead of lingering for nobody.
    std::atomic<bool> hubConnected{false};

    plat::CMutex ackMutex;
    plat::CCondition ackCv;
    std::uint64_t ackedGeneration KVA_GUARDED_BY(ackMutex) = 0;

    // Callbacks.
    std::mutex cbMutex;
    std::condition_variable cbIdle;
    std::unordered_map<std::int32_t, std::shared_ptr<MessageCallback>> callbacks;  // guarded by cbMutex
    std::shared_ptr<MessageCallback> subscribeCallback;                            // guarded by cbMutex
    std::shared_ptr<MessageCallback> defaultCallback;                              // guarded by cbMutex
    const MessageCallback* running = nullptr;                                      // guarded by cbMutex

    // The two workers take turns (one with bInlineDispatch): the one that receives items for
    // callbacks runs them itself, so a callback starts without a thread hop, and the other takes
    // over receiving when a callback runs long or waits for a reply. Items that arrive while a
    // callback runs wait in `waiting`, in order, for the worker that runs callbacks. The second
    // worker exists only while callbacks come: after kQuiet without one it ends, and the next
    // run of callbacks starts it again, so an idle client has one thread.
    std::mutex turnMutex;
    std::condition_variable turnCv;
    bool polling = false;                 // guarded by turnMutex
    bool dispatching = false;             // guarded by turnMutex
    std::uint64_t dispatchRun = 0;        // guarded by turnMutex; +1 per run of callbacks
    bool takeOver = false;                // guarded by turnMutex: the idle worker is to receive
    bool stopWorkers = false;             // guarded by turnMutex
    std::vector<zmq::message_t> waiting;  // guarded by turnMutex
    std::atomic<bool> paused{false};      // `waiting` is full: the receiver stops reading

    // SendIPCMessage calls in progress.
    std::mutex pendingMutex;
    std::condition_variable sendsDone;
    std::list<std::shared_ptr<CPending>> pending;  // guarded by pendingMutex
    int activeSends = 0;           // guarded by pendingMutex
    bool stopping = false;         // guarded by pendingMutex
    std::atomic<int> pendingCount{0};
    plat::CEvent stopEvent;
    plat::CEvent announced;  // the hub acknowledged this client's announcement (reset on reconnection)

    std::thread workers[2];                // guarded by turnMutex once started
    bool workerEnded[2] = {true, true};    // guarded by turnMutex: the slot's thread has left Work

    std::atomic<std::uint64_t> posted{0}, refused{0}, received{0}, unhandled{0}, callbackErrors{0}, malformed{0};

    void Start();
    // Idempotent: Close() and the destructor both end here.
    void Shutdown() { std::call_once(shutdownOnce, [this] { ShutdownOnce(); }); }
    void ShutdownOnce();
    std::once_flag shutdownOnce;

    bool Post(EFrameKind kind, std::uint8_t flags, const tagIPC_MESSAGE_ITEM& item);
    void Wake(char command);
    void WakeLocked(char command);

    // Worker threads.
    void StartWorkerLocked();
    void Work(int slot);
    bool ReceiveUntilWork(std::vector<zmq::message_t>& batch);
    bool WaitForSockets();
    void CloseReceiving();
    // The receiving role.
    std::int32_t SendControl(EFrameKind kind, std::int32_t a, std::int32_t b);
    void Announce();
    void SendNewSubscriptions();
    void WatchConnection();
    bool ReceiveBatch(std::vector<zmq::message_t>& batch);
    void HandleAck(std::int32_t seq);
    bool TryComplete(const CFrame& frame, zmq::message_t& bytes);

    // Running callbacks.
    void RunCallbacks(std::vector<zmq::message_t>& batch);
    void RelieveMe();
    void Dispatch(const CFrame& frame);
    bool Rebind(std::shared_ptr<MessageCallback>* slot, std::shared_ptr<MessageCallback> callback,
                std::unique_lock<std::mutex>& lock);
    void WaitNotRunning(std::unique_lock<std::mutex>& lock, const MessageCallback* old);
};

void CIPCMessageClient::Impl::Start() {
    if (receive && endpointId == -1) {
        KVA_LOG_ERROR("IPC client without an endpoint id cannot receive; it only sends");
        receive = false;
    }
    if (!ipcmsg::PrepareEndpoint(endpoint)) {
        broken = true;
        return;
    }
    try {
        ctx = ipcmsg::SharedZmqContext();
        const std::string token = ConnectionToken();
        sendSock = zmq::socket_t(*ctx, zmq::socket_type::dealer);
        if (receive) sendSock.set(zmq::sockopt::routing_id, std::string(1, ipcmsg::kSendingMark) + token);
        sendSock.set(zmq::sockopt::linger, kSendLingerMs);
        sendSock.set(zmq::sockopt::sndtimeo, kPostWaitMs);
        sendSock.set(zmq::sockopt::reconnect_ivl, kReconnectMs);
        sendSock.set(zmq::sockopt::reconnect_ivl_max, kReconnectMaxMs);
        sendSock.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(ipcmsg::kMaxFrameBytes));
        sendSock.connect(endpoint);
        if (receive) {
            const std::string unique = std::to_string(g_clientCounter.fetch_add(1));
            ctlSend = zmq::socket_t(*ctx, zmq::socket_type::pair);
            ctlSend.set(zmq::sockopt::linger, 0);
            ctlSend.bind("inproc://kva-ipc-ctl-" + unique);
            ctlRecv = zmq::socket_t(*ctx, zmq::socket_type::pair);
            ctlRecv.set(zmq::sockopt::linger, 0);
            ctlRecv.connect("inproc://kva-ipc-ctl-" + unique);
            recvSock = zmq::socket_t(*ctx, zmq::socket_type::dealer);
            recvSock.set(zmq::sockopt::routing_id, std::string(1, ipcmsg::kReceivingMark) + token);
            recvSock.set(zmq::sockopt::linger, kRecvLingerMs);
            recvSock.set(zmq::sockopt::reconnect_ivl, kReconnectMs);
            recvSock.set(zmq::sockopt::reconnect_ivl_max, kReconnectMaxMs);
            recvSock.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(ipcmsg::kMaxFrameBytes));
            const std::string mon = "inproc://kva-ipc-mon-" + unique;
            if (zmq_socket_monitor(recvSock.handle(), mon.c_str(), ZMQ_EVENT_HANDSHAKE_SUCCEEDED | ZMQ_EVENT_DISCONNECTED) != 0) {
                throw zmq::error_t();
            }
            monitor = zmq::socket_t(*ctx, zmq::socket_type::pair);
            monitor.set(zmq::sockopt::linger, 0);
            monitor.connect(mon);
            recvSock.connect(endpoint);
            ctlFd = ctlRecv.get(zmq::sockopt::fd);
            monitorFd = monitor.get(zmq::sockopt::fd);
            recvFd = recvSock.get(zmq::sockopt::fd);
        }
    } catch (const zmq::error_t& e) {
        KVA_LOG_ERROR("IPC client " << Hex(endpointId) << " cannot use " << endpoint << ": " << e.what());
        broken = true;
        if (recvSock) zmq_socket_monitor(recvSock.handle(), nullptr, 0);
        for (zmq::socket_t* s : {&sendSock, &ctlSend, &ctlRecv, &recvSock, &monitor}) s->close();
        return;
    }
    sendOpen = true;
    if (receive) {
        Announce();
        std::lock_guard lock(turnMutex);
        StartWorkerLocked();
    }
}

void CIPCMessageClient::Impl::ShutdownOnce() {
    {
        std::lock_guard lock(pendingMutex);
        stopping = true;
    }
    stopEvent.Set();  // ends the waits of SendIPCMessage
    {
        std::unique_lock lock(pendingMutex);
        sendsDone.wait(lock, [this] { return activeSends == 0; });
    }
    std::shared_ptr<MessageCallback> lastSubscribe, lastDefault;
    std::unordered_map<std::int32_t, std::shared_ptr<MessageCallback>> lastCallbacks;
    {
        std::lock_guard lock(cbMutex);
        lastCallbacks.swap(callbacks);
        lastSubscribe.swap(subscribeCallback);
        lastDefault.swap(defaultCallback);
    }
    if (receive && !broken) {
        {
            std::lock_guard lock(turnMutex);
            stopWorkers = true;
        }
        turnCv.notify_all();
        Wake('s');  // the receiving worker waits in zmq_poll
        const auto self = std::this_thread::get_id();
        bool detached = false;
        for (std::thread& t : workers) {
            if (!t.joinable()) continue;
            if (t.get_id() == self) {
                KVA_LOG_ERROR("IPC client " << Hex(endpointId) << " destroyed from its own callback");
                t.detach();
                detached = true;
            } else {
                t.join();
            }
        }
        if (!detached) CloseReceiving();  // else the last worker's Impl destructor closes them
    }
    {
        std::lock_guard lock(sendMutex);
        sendOpen = false;
        // Queued posts get their linger only when there is a hub to take them.
        if (receive && !broken && !hubConnected) sendSock.set(zmq::sockopt::linger, 0);
        sendSock.close();
    }
    std::lock_guard lock(ctlMutex);
    ctlSend.close();
}

bool CIPCMessageClient::Impl::Post(EFrameKind kind, std::uint8_t flags, const tagIPC_MESSAGE_ITEM& item) {
    if (ipcmsg::CheckItem(item) != EFrameError::None) {
        refused.fetch_add(1, std::memory_order_relaxed);
        KVA_LOG_ERROR("IPC message " << Hex(item.nMessageID) << " refused: payload length " << item.nMessageLen
                                     << " (limit " << ipcmsg::kMaxPayloadBytes << ") or no payload");
        return false;
    }
    zmq::message_t msg(ipcmsg::FrameSize(item.nMessageLen));
    ipcmsg::EncodeFrame(kind, flags, item, msg.data<std::uint8_t>());
    int rc = -1;
    ipcmsg::BeforeSend(msg);
    {
        std::lock_guard lock(sendMutex);
        if (sendOpen) rc = zmq_msg_send(msg.handle(), sendSock.handle(), 0);  // waits kPostWaitMs at most
    }
    if (rc < 0) {
        refused.fetch_add(1, std::memory_order_relaxed);
        if (!lastPostFailed.exchange(true)) {
            KVA_LOG_ERROR("IPC message " << Hex(item.nMessageID) << " to " << Hex(item.nReceiverID)
                                         << " not sent: the queue to the hub is full or closed");
        }
        return false;
    }
    lastPostFailed.store(false, std::memory_order_relaxed);
    posted.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void CIPCMessageClient::Impl::WakeLocked(char command) {
    if (!ctlSend) return;
    zmq_send(ctlSend.handle(), &command, 1, ZMQ_DONTWAIT);
    commandSent.store(true);
}

void CIPCMessageClient::Impl::Wake(char command) {
    std::lock_guard lock(ctlMutex);
    WakeLocked(command);
}

// ---- the workers ---------------------------------------------------------------------------

void CIPCMessageClient::Impl::StartWorkerLocked() {
    if (stopWorkers) return;
    for (int slot = 0; slot < (singleThread ? 1 : 2); ++slot) {
        if (!workerEnded[slot]) continue;
        // A thread that ended has left Work and needs nothing of ours to finish.
        if (workers[slot].joinable()) workers[slot].join();
        workerEnded[slot] = false;
        workers[slot] = std::thread([self = shared_from_this(), slot] { self->Work(slot); });
        return;
    }
}

void CIPCMessageClient::Impl::Work(int slot) {
    using Steady = std::chrono::steady_clock;
    std::vector<zmq::message_t> batch;
    std::uint64_t runSeen = 0;  // the last callback run this worker saw start
    Steady::time_point runSeenAt = Steady::now();
    std::unique_lock lock(turnMutex);
    for (;;) {
        if (stopWorkers) return;
        if (!dispatching && !waiting.empty()) {
            batch.swap(waiting);
            dispatching = true;
            ++dispatchRun;
        } else if (polling || (dispatching && !takeOver)) {
            // Someone receives, or a callback runs and may soon receive again. While callbacks
            // come often this worker looks every kRelief and takes over receiving from a callback
            // that has run that long; after a quiet spell it ends.
            const auto now = Steady::now();
            if (dispatchRun != runSeen) {
                runSeen = dispatchRun;
                runSeenAt = now;
            }
            const bool watching = !polling && dispatching;
            auto ready = [this] { return stopWorkers || takeOver || (!polling && !dispatching) || (!dispatching && !waiting.empty()); };
            if (!watching && now - runSeenAt > kQuiet) {
                // The other worker receives; the next run of callbacks starts this one again.
                workerEnded[slot] = true;
                return;
            }
            if (!turnCv.wait_for(lock, kRelief, ready) && watching && !polling && dispatching &&
                dispatchRun == runSeen) {
                takeOver = true;  // the same callback still runs and nobody receives
            }
            continue;
        } else {
            takeOver = false;
            polling = true;
            lock.unlock();
            const bool work = ReceiveUntilWork(batch);  // leaves with `dispatching` set, or to stop
            lock.lock();
            if (!work) {
                stopWorkers = true;
                polling = false;
                turnCv.notify_all();
                return;
            }
        }
        const bool resume = paused.exchange(false);
        lock.unlock();
        if (resume) Wake('w');
        RunCallbacks(batch);
        lock.lock();
        dispatching = false;
    }
}

// The receiving role: replies, acknowledgements and connection events are handled here; items for
// callbacks are returned to run on this thread when no callback runs elsewhere (the role then
// passes to the other worker), or else queued for the worker that runs callbacks.
//
// The wait is one poll of the three sockets' notification descriptors, not zmq_poll over the
// sockets, which asks every socket for its state (a system call each) before and after each wait.
// A descriptor only tells that its socket's state changed, and any operation on the socket may
// consume that news, so a socket is waited on only after it was read until it had nothing more:
// `mayRead` says which may still hold something.
bool CIPCMessageClient::Impl::ReceiveUntilWork(std::vector<zmq::message_t>& batch) {
    for (;;) {
        if (mayRead.control || commandSent.exchange(false)) {
            mayRead.control = false;
            bool stop = false;
            char command = 0;
            while (zmq_recv(ctlRecv.handle(), &command, 1, ZMQ_DONTWAIT) >= 0) stop = stop || command == 's';
            if (stop) return false;
            SendNewSubscriptions();
            mayRead.items = true;  // also after a pause: the items left waiting are read again
        }
        if (mayRead.monitor) {
            mayRead.monitor = false;
            WatchConnection();
        }
        if (!unacked.empty() && std::chrono::steady_clock::now() >= nextAnnounce) Announce();
        if (mayRead.items && !paused.load()) mayRead.items = !ReceiveBatch(batch);
        if (!batch.empty()) {
            std::unique_lock lock(turnMutex);
            if (stopWorkers) return false;
            if (!dispatching && waiting.empty()) {
                dispatching = true;
                ++dispatchRun;
                polling = false;
                StartWorkerLocked();  // to watch this run, unless it watches already
                return true;
            }
            for (auto& m : batch) waiting.push_back(std::move(m));
            batch.clear();
            if (waiting.size() >= kMaxQueued) paused = true;
        }
        if (mayRead.items && !paused.load()) continue;
        if (!WaitForSockets()) return false;
    }
}

// Only an announcement still waiting for its acknowledgement is repeated; an acknowledged client
// sleeps until something arrives (a lost connection shows on the monitor).
bool CIPCMessageClient::Impl::WaitForSockets() {
    zmq_pollitem_t polls[3] = {{nullptr, ctlFd, ZMQ_POLLIN, 0},
                               {nullptr, monitorFd, ZMQ_POLLIN, 0},
                               {nullptr, recvFd, ZMQ_POLLIN, 0}};
    const int count = paused.load() ? 2 : 3;
    long timeout = -1;
    if (!unacked.empty()) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextAnnounce - std::chrono::steady_clock::now());
        timeout = std::max<long>(0, static_cast<long>(wait.count()));
    }
    if (zmq_poll(polls, count, timeout) < 0 && zmq_errno() != EINTR) {
        KVA_LOG_ERROR("IPC client " << Hex(endpointId) << " poll failed: " << zmq_strerror(zmq_errno()));
        return false;
    }
    mayRead.control = polls[0].revents != 0;
    mayRead.monitor = polls[1].revents != 0;
    mayRead.items = mayRead.items || (count == 3 && polls[2].revents != 0);
    return true;
}

void CIPCMessageClient::Impl::CloseReceiving() {
    if (!hubConnected) recvSock.set(zmq::sockopt::linger, 0);
    SendControl(EFrameKind::Bye, 0, 0);
    zmq_socket_monitor(recvSock.handle(), nullptr, 0);
    monitor.close();
    recvSock.close();
    ctlRecv.close();
}

std::int32_t CIPCMessageClient::Impl::SendControl(EFrameKind kind, std::int32_t a, std::int32_t b) {
    tagIPC_MESSAGE_ITEM item;
    item.nSenderID = endpointId;
    item.nMessageID = a;
    item.nReplyMessageID = b;
    item.nSyncMessageId = ++controlSeq;
    zmq::message_t msg(ipcmsg::FrameSize(0));
    ipcmsg::EncodeFrame(kind, 0, item, msg.data<std::uint8_t>());
    ipcmsg::BeforeSend(msg);
    zmq_msg_send(msg.handle(), recvSock.handle(), ZMQ_DONTWAIT);  // a lost one is sent again later
    mayRead.items = true;  // sending may have taken in the news that items arrived
    return item.nSyncMessageId;
}

void CIPCMessageClient::Impl::Announce() {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> subs;
    std::uint64_t gen = 0;
    {
        std::lock_guard lock(ctlMutex);
        subs = subscriptions;
        gen = generation;
    }
    std::int32_t seq = SendControl(EFrameKind::Hello, 0, 0);
    for (const auto& [topic, filter] : subs) {
        seq = SendControl(EFrameKind::Subscribe, static_cast<std::int32_t>(topic), static_cast<std::int32_t>(filter));
    }
    subscriptionsSent = subs.size();
    // A later announcement covers every generation of an earlier one, so with no hub answering
    // the oldest can go; each repeat waits twice as long as the last, up to a minute.
    if (unacked.size() >= kMaxUnacked) unacked.pop_front();
    reannounceDelay = unacked.empty() ? std::chrono::milliseconds(kReannounce)
                                      : std::min<std::chrono::milliseconds>(reannounceDelay * 2, kReannounceMax);
    unacked.emplace_back(seq, gen);
    nextAnnounce = std::chrono::steady_clock::now() + reannounceDelay;
}

void CIPCMessageClient::Impl::SendNewSubscriptions() {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fresh;
    std::uint64_t gen = 0;
    {
        std::lock_guard lock(ctlMutex);
        fresh.assign(subscriptions.begin() + static_cast<std::ptrdiff_t>(subscriptionsSent), subscriptions.end());
        gen = generation;
    }
    if (fresh.empty()) return;
    std::int32_t seq = 0;
    for (const auto& [topic, filter] : fresh) {
        seq = SendControl(EFrameKind::Subscribe, static_cast<std::int32_t>(topic), static_cast<std::int32_t>(filter));
    }
    subscriptionsSent += fresh.size();
    if (unacked.empty()) nextAnnounce = std::chrono::steady_clock::now() + kReannounce;
    unacked.emplace_back(seq, gen);
}

// A lost connection means the hub may have restarted and forgotten this client: replies wait until
// the announcement on the new connection is acknowledged.
void CIPCMessageClient::Impl::WatchConnection() {
    zmq::message_t part;
    while (zmq_msg_recv(part.handle(), monitor.handle(), ZMQ_DONTWAIT) >= 0) {
        std::uint16_t event = 0;
        if (part.size() >= sizeof(event)) std::memcpy(&event, part.data(), sizeof(event));
        while (part.more() && zmq_msg_recv(part.handle(), monitor.handle(), 0) >= 0) {
        }
        if (event == ZMQ_EVENT_DISCONNECTED) {
            hubConnected = false;
            announced.Reset();
        } else if (event == ZMQ_EVENT_HANDSHAKE_SUCCEEDED) {
            hubConnected = true;
            announced.Reset();
            unacked.clear();  // their answers died with the old connection; this announcement covers them
            Announce();
        }
    }
}

void CIPCMessageClient::Impl::HandleAck(std::int32_t seq) {
    std::uint64_t gen = 0;
    while (!unacked.empty() && unacked.front().first <= seq) {
        gen = std::max(gen, unacked.front().second);
        unacked.pop_front();
    }
    if (unacked.empty()) reannounceDelay = kReannounce;
    if (gen == 0) return;
    announced.Set();
    {
        std::lock_guard lock(ackMutex);
        ackedGeneration = std::max(ackedGeneration, gen);
    }
    ackCv.notify_all();
}

bool CIPCMessageClient::Impl::TryComplete(const CFrame& frame, zmq::message_t& bytes) {
    if (pendingCount.load() == 0) return false;
    std::shared_ptr<CPending> waiter;  // keeps the entry alive even if its wait has just timed out
    {
        std::lock_guard lock(pendingMutex);
        for (const auto& p : pending) {
            if (!p->completed && p->messageId == frame.item.nMessageID && p->syncId == frame.item.nSyncMessageId) {
                p->reply = std::move(bytes);
                p->completed = true;
                waiter = p;
                break;
            }
        }
    }
    if (!waiter) return false;
    waiter->done.Set();  // outside the lock, which the woken caller takes at once
    return true;
}

// True when the socket had nothing more (false when the batch is full: more may be waiting).
bool CIPCMessageClient::Impl::ReceiveBatch(std::vector<zmq::message_t>& batch) {
    for (int i = 0; i < kRecvBatch; ++i) {
        zmq::message_t bytes;
        if (zmq_msg_recv(bytes.handle(), recvSock.handle(), ZMQ_DONTWAIT) < 0) return zmq_errno() != EINTR;
        ipcmsg::AfterReceive(bytes);
        CFrame frame;
        if (bytes.more() || !Decode(bytes, &frame)) {
            while (bytes.more() && zmq_msg_recv(bytes.handle(), recvSock.handle(), 0) >= 0) {
            }
            malformed.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (frame.kind == EFrameKind::Ack) {
            HandleAck(frame.item.nSyncMessageId);
            continue;
        }
        if (frame.kind != EFrameKind::Item) {
            malformed.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        received.fetch_add(1, std::memory_order_relaxed);
        const bool maybeReply = frame.item.nReceiverID != -1 && (frame.flags & ipcmsg::kFlagSyncRequest) == 0;
        if (maybeReply && TryComplete(frame, bytes)) continue;
        batch.push_back(std::move(bytes));
    }
    return false;
}

// ---- callbacks -----------------------------------------------------------------------------

// Called from a callback that is about to wait: the idle worker takes over receiving now.
void CIPCMessageClient::Impl::RelieveMe() {
    {
        std::lock_guard lock(turnMutex);
        if (polling) return;
        takeOver = true;
        StartWorkerLocked();
    }
    turnCv.notify_all();
}

void CIPCMessageClient::Impl::RunCallbacks(std::vector<zmq::message_t>& batch) {
    t_dispatching = this;
    for (auto& bytes : batch) {
        CFrame frame;
        if (Decode(bytes, &frame)) Dispatch(frame);
    }
    t_dispatching = nullptr;
    batch.clear();
}

void CIPCMessageClient::Impl::Dispatch(const CFrame& frame) {
    tagIPC_MESSAGE_ITEM item = frame.item;
    std::shared_ptr<MessageCallback> callback;
    {
        std::lock_guard lock(cbMutex);
        if (item.nReceiverID == -1) {
            callback = subscribeCallback;
        } else if (auto it = callbacks.find(item.nMessageID); it != callbacks.end()) {
            callback = it->second;
        } else {
            callback = defaultCallback;
        }
        if (!callback) {
            unhandled.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        running = callback.get();
    }
    try {
        (*callback)(item);
    } catch (const std::exception& e) {
        callbackErrors.fetch_add(1, std::memory_order_relaxed);
        KVA_LOG_ERROR("callback of IPC message " << Hex(frame.item.nMessageID) << " threw: " << e.what());
    } catch (...) {
        callbackErrors.fetch_add(1, std::memory_order_relaxed);
        KVA_LOG_ERROR("callback of IPC message " << Hex(frame.item.nMessageID) << " threw a non-standard exception");
    }
    {
        std::lock_guard lock(cbMutex);
        running = nullptr;
    }
    cbIdle.notify_all();
}

void CIPCMessageClient::Impl::WaitNotRunning(std::unique_lock<std::mutex>& lock, const MessageCallback* old) {
    if (old == nullptr) return;
    if (t_dispatching == this) return;  // a callback cannot wait for itself
    cbIdle.wait(lock, [&] { return running != old; });
}

bool CIPCMessageClient::Impl::Rebind(std::shared_ptr<MessageCallback>* slot, std::shared_ptr<MessageCallback> callback,
                                     std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<MessageCallback> old = std::move(*slot);
    *slot = std::move(callback);
    WaitNotRunning(lock, old.get());
    lock.unlock();  // the old callable is destroyed outside the lock
    return true;
}

// ---- the client ----------------------------------------------------------------------------

CIPCMessageClient::CIPCMessageClient(int nEndpointId, bool bReceive, bool bInlineDispatch)
    : m_impl(std::make_shared<Impl>(nEndpointId, bReceive, bInlineDispatch)) {
    m_impl->Start();
}

CIPCMessageClient::~CIPCMessageClient() { m_impl->Shutdown(); }

void CIPCMessageClient::Close() { m_impl->Shutdown(); }

int CIPCMessageClient::EndpointId() const { return m_impl->endpointId; }

bool CIPCMessageClient::SubscribeIPCMessage(unsigned int nTopic, unsigned int nMessageFilter) {
    Impl& d = *m_impl;
    if (!d.receive || d.broken || (nTopic & 0xFFFFu) != 0) return false;
    std::lock_guard lock(d.ctlMutex);
    const auto entry = std::make_pair(static_cast<std::uint32_t>(nTopic), static_cast<std::uint32_t>(nMessageFilter));
    if (std::find(d.subscriptions.begin(), d.subscriptions.end(), entry) != d.subscriptions.end()) return true;
    d.subscriptions.push_back(entry);
    ++d.generation;
    d.WakeLocked('w');
    return true;
}

bool CIPCMessageClient::PostIPCMessage(const tagIPC_MESSAGE_ITEM& item) {
    return m_impl->Post(EFrameKind::Item, 0, item);
}

bool CIPCMessageClient::PublishIPCMessage(const tagIPC_MESSAGE_ITEM& item) {
    tagIPC_MESSAGE_ITEM broadcast = item;
    broadcast.nReceiverID = -1;
    return m_impl->Post(EFrameKind::Item, 0, broadcast);
}

bool CIPCMessageClient::SendIPCMessage(const tagIPC_MESSAGE_ITEM& request, tagIPC_MESSAGE_ITEM& reply,
                                       unsigned int nTimeoutMs) {
    Impl& d = *m_impl;
    if (!d.receive || d.broken) {
        KVA_LOG_ERROR("IPC client " << Hex(d.endpointId) << " does not receive, so it cannot wait for a reply");
        return false;
    }
    if (t_dispatching == &d) {
        if (d.singleThread) {
            KVA_LOG_ERROR("SendIPCMessage called from a callback of a single-thread client; it would never see the reply");
            return false;
        }
        d.RelieveMe();  // the other worker receives the reply
    }
    auto me = std::make_shared<CPending>(request.nMessageID, request.nSyncMessageId);
    {
        std::lock_guard lock(d.pendingMutex);
        if (d.stopping) return false;
        d.pending.push_back(me);
        ++d.activeSends;
        ++d.pendingCount;
    }
    // The reply can only find this client once the hub knows it: a fresh client (or one whose hub
    // just restarted) first waits for its announcement to be acknowledged, within the same time-out.
    auto& clock = plat::CClock::Get();
    const std::uint64_t start = clock.TickCount64();
    int which = -1;
    bool sent = false;
    if (clock.Wait({&d.announced, &d.stopEvent}, nTimeoutMs, &which) == plat::WaitResult::Signaled && which == 0) {
        std::uint32_t left = nTimeoutMs;
        if (nTimeoutMs != plat::CClock::kInfinite) {
            left -= static_cast<std::uint32_t>(std::min<std::uint64_t>(clock.TickCount64() - start, nTimeoutMs));
        }
        sent = d.Post(EFrameKind::Item, ipcmsg::kFlagSyncRequest, request);
        if (sent) clock.Wait({&me->done, &d.stopEvent}, left);
    }
    bool got = false;
    {
        std::lock_guard lock(d.pendingMutex);
        d.pending.remove(me);
        --d.pendingCount;
        --d.activeSends;
        got = me->completed;
        d.sendsDone.notify_all();  // under the lock: the destructor may free `d` once it is released
    }
    if (!got) {
        KVA_LOG_ERROR("no reply to IPC message " << Hex(request.nMessageID) << " from " << Hex(request.nReceiverID)
                                                 << " within " << nTimeoutMs << " ms" << (sent ? "" : " (not sent)"));
        return false;
    }
    CFrame frame;
    Decode(me->reply, &frame);  // checked once already when it was received
    reply = frame.item;
    t_replyPayload.assign(frame.item.pszMessage ? frame.item.pszMessage : "", static_cast<std::size_t>(frame.item.nMessageLen));
    reply.pszMessage = frame.item.nMessageLen > 0 ? t_replyPayload.data() : nullptr;
    return true;
}

bool CIPCMessageClient::UnRegisterMessageCallback(int nMessageId) {
    Impl& d = *m_impl;
    std::unique_lock lock(d.cbMutex);
    auto it = d.callbacks.find(nMessageId);
    if (it == d.callbacks.end()) return false;
    std::shared_ptr<MessageCallback> old = std::move(it->second);
    d.callbacks.erase(it);
    d.WaitNotRunning(lock, old.get());
    lock.unlock();
    return true;
}

bool CIPCMessageClient::BindMessageCallback(int nMessageId, MessageCallback callback) {
    if (!callback) return false;
    Impl& d = *m_impl;
    std::unique_lock lock(d.cbMutex);
    return d.Rebind(&d.callbacks[nMessageId], std::make_shared<MessageCallback>(std::move(callback)), lock);
}

bool CIPCMessageClient::BindSubscribeCallback(MessageCallback callback) {
    if (!callback) return false;
    Impl& d = *m_impl;
    std::unique_lock lock(d.cbMutex);
    return d.Rebind(&d.subscribeCallback, std::make_shared<MessageCallback>(std::move(callback)), lock);
}

bool CIPCMessageClient::BindDefaultCallback(MessageCallback callback) {
    if (!callback) return false;
    Impl& d = *m_impl;
    std::unique_lock lock(d.cbMutex);
    return d.Rebind(&d.defaultCallback, std::make_shared<MessageCallback>(std::move(callback)), lock);
}

bool CIPCMessageClient::WaitForHub(std::chrono::milliseconds realTimeout) {
    Impl& d = *m_impl;
    if (!d.receive || d.broken) return false;
    std::uint64_t target = 0;
    {
        std::lock_guard lock(d.ctlMutex);
        target = d.generation;
    }
    std::unique_lock lock(d.ackMutex);
    return d.ackCv.wait_for(lock, realTimeout,
                            [&]() KVA_REQUIRES(d.ackMutex) { return d.ackedGeneration >= target; });
}

CIPCClientStats CIPCMessageClient::Stats() const {
    return suite::LoadMembers<CIPCClientStats>(*m_impl, [](auto&& visit) {
        KVA_FOR_EACH_MEMBER(visit, posted, refused, received, unhandled, callbackErrors, malformed);
    });
}
