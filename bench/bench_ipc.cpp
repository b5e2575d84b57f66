// IPC through the hub between two processes over ipc://, beside a plain ZeroMQ ROUTER hub that
// forwards between two DEALERs (the same shape, no framing, tables or threads of ours), measured
// in the same run:
//   RoundTrip  request/reply: this process sends, a peer process answers; p50/p99 in counters.
//   OneWay     pipelined one-way stream: up to kWindow messages in flight, the receiver
//              acknowledges every kAckEvery (so neither hub ever drops); messages per second.
// Payloads of 256 B and 4 KiB. Each hub runs in a process of its own, and so does each receiver.
// The figures and the ratios (ours / plain) are printed at the end.
//
// Run: build/release/bin/bench_ipc  (the peers are this program again, started with --peer).
// The figures that count are the pooled ones printed last.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zmq.hpp>

#include "IPCMessage/IPCEndpoint.h"
#include "IPCMessage/IPCHub.h"
#include "IPCMessage/IPCMessageClient.h"
#include "ipc/IPCReply.h"
#include "kva/platform/Module.h"
#include "kva/platform/Process.h"
#include "kva/platform/Text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kSender = 0xA0000;
constexpr std::int32_t kReceiver = 0xB0000;
constexpr std::int32_t kEchoMsg = 0xB0001;
constexpr std::int32_t kStreamMsg = 0xB0002;
constexpr std::int32_t kAckMsg = 0xA0003;
constexpr std::uint64_t kAckEvery = 1024;
constexpr std::uint64_t kWindow = 4096;  // well below the hubs' 10000 per connection: neither drops
constexpr std::uint64_t kBatch = 20480;   // messages per one-way iteration
constexpr auto kReady = std::chrono::milliseconds(10000);

// ---- the peers (this program started with --peer ROLE ENDPOINT) -----------------------------

void Ready() { std::cout << "ready" << std::endl; }

int RunOursHub(const std::string& endpoint) {
    ipcmsg::CHub hub(endpoint);
    if (!hub.Start()) return 1;
    Ready();
    plat::WaitForStopSignal();
    const auto st = hub.Stats();
    std::cerr << "our hub: " << st.items << " items, " << st.deliveries << " delivered, " << st.dropped << " dropped, "
              << st.queueFull << " not queued (full), " << st.refused << " refused\n";
    return 0;
}

int RunOursReceiver() {
    CIPCMessageClient me(kReceiver, true, false);
    std::uint64_t received = 0;
    me.BindMessageCallback(kEchoMsg, [&](tagIPC_MESSAGE_ITEM& request) {
        me.PostIPCMessage(MakeIPCReply(request, kReceiver, request.pszMessage, request.nMessageLen));
    });
    me.BindMessageCallback(kStreamMsg, [&](tagIPC_MESSAGE_ITEM& item) {
        if (++received % kAckEvery != 0) return;
        tagIPC_MESSAGE_ITEM ack = MakeIPCPost(item.nSenderID, kAckMsg, 0, nullptr, 0);
        std::memcpy(&ack.nReplyMessageID, &received, sizeof(std::int32_t));  // low 32 bits of the count
        me.PostIPCMessage(ack);
    });
    if (!me.WaitForHub(kReady)) return 1;
    Ready();
    plat::WaitForStopSignal();
    const auto st = me.Stats();
    std::cerr << "our receiver: " << st.received << " received, " << st.unhandled << " unhandled, " << st.refused
              << " posts refused\n";
    return 0;
}

// Plain: the first message of a connection names it ('a' or 'b'); everything else goes to the other.
int RunPlainHub(const std::string& endpoint) {
    zmq::context_t ctx(1);
    zmq::socket_t router(ctx, zmq::socket_type::router);
    router.set(zmq::sockopt::linger, 0);
    router.set(zmq::sockopt::sndhwm, ipcmsg::kHubQueuePerConnection);  // as our hub's
    router.bind(endpoint);
    Ready();
    std::string ids[2];
    std::atomic<std::uint64_t> forwarded{0}, failed{0};
    std::thread([&] {
        plat::WaitForStopSignal();
        std::cerr << "plain hub: " << forwarded << " forwarded, " << failed << " not queued\n";
        std::_Exit(0);
    }).detach();
    zmq::message_t id, msg;
    for (;;) {
        try {
            if (!router.recv(id) || !router.recv(msg)) continue;
            const std::string from(id.data<char>(), id.size());
            if (msg.size() == 1 && (msg.data<char>()[0] == 'a' || msg.data<char>()[0] == 'b')) {
                ids[msg.data<char>()[0] - 'a'] = from;
                router.send(zmq::buffer(from), zmq::send_flags::sndmore);
                router.send(zmq::str_buffer("k"));  // known now
                continue;
            }
            const std::string& to = from == ids[0] ? ids[1] : ids[0];
            if (router.send(zmq::buffer(to), zmq::send_flags::sndmore | zmq::send_flags::dontwait) &&
                router.send(msg, zmq::send_flags::dontwait)) {
                ++forwarded;
            } else {
                ++failed;
            }
        } catch (const zmq::error_t&) {  // EINTR: the stop signal is on its way
        }
    }
}

int RunPlainReceiver(const std::string& endpoint) {
    zmq::context_t ctx(1);
    zmq::socket_t dealer(ctx, zmq::socket_type::dealer);
    dealer.set(zmq::sockopt::linger, 0);
    dealer.connect(endpoint);
    dealer.send(zmq::str_buffer("b"));
    zmq::message_t known;
    if (!dealer.recv(known)) return 1;
    Ready();
    std::atomic<std::uint64_t> received{0};
    std::thread([&] {
        plat::WaitForStopSignal();
        std::cerr << "plain receiver: " << received << " received\n";
        std::_Exit(0);
    }).detach();
    zmq::message_t msg;
    for (;;) {
        try {
            if (!dealer.recv(msg)) continue;
            if (msg.data<char>()[0] == 'E') {
                dealer.send(msg, zmq::send_flags::none);
            } else if (++received % kAckEvery == 0) {
                char ack[1 + sizeof(received)] = {'A'};
                std::memcpy(ack + 1, &received, sizeof(received));
                dealer.send(zmq::buffer(ack), zmq::send_flags::none);
            }
        } catch (const zmq::error_t&) {  // EINTR: the stop signal is on its way
        }
    }
}

// ---- the measuring side ----------------------------------------------------------------------

struct CPeers {
    std::filesystem::path dir;
    std::string ours, plain;
    plat::CChildProcess oursHub, oursReceiver, plainHub, plainReceiver;
    bool ok = false;

    CPeers() {
        dir = std::filesystem::temp_directory_path() /
              ("kva-bench-ipc-" + std::to_string(Clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(dir);
        ours = "ipc://" + (dir / "ours.sock").string();
        plain = "ipc://" + (dir / "plain.sock").string();
        ok = Start(oursHub, "ours-hub", ours) && Start(oursReceiver, "ours-receiver", ours) &&
             Start(plainHub, "plain-hub", plain) && Start(plainReceiver, "plain-receiver", plain);
    }
    ~CPeers() {
        for (auto* p : {&oursReceiver, &oursHub, &plainReceiver, &plainHub}) p->Stop();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    static bool Start(plat::CChildProcess& child, const char* role, const std::string& endpoint) {
        std::string line;
        return child.Start(plat::ToUtf8(plat::HostExecutablePath()), {"--peer", role, endpoint}) &&
               child.ReadLine(&line, kReady) && line == "ready";
    }
};

CPeers& Peers() {
    static CPeers peers;
    return peers;
}

// Everything measured, pooled over the repetitions (which run interleaved), per "ours/256" etc.
struct CFigures {
    std::vector<double> roundTripUs;
    double streamSeconds = 0;
    std::uint64_t streamed = 0;
};
std::map<std::string, CFigures> g_figures;

double Percentile(std::vector<double> us, double q) {
    if (us.empty()) return 0;
    std::sort(us.begin(), us.end());
    return us[std::min(us.size() - 1, static_cast<std::size_t>(static_cast<double>(us.size()) * q))];
}

void Percentiles(benchmark::State& state, const std::vector<double>& us, const std::string& key) {
    state.counters["p50_us"] = Percentile(us, 0.5);
    state.counters["p99_us"] = Percentile(us, 0.99);
    auto& pool = g_figures[key].roundTripUs;
    pool.insert(pool.end(), us.begin(), us.end());
}

// Our sender: one client for the whole run, acknowledgements counted by its callback.
struct COurSender {
    std::mutex m;
    std::condition_variable cv;
    std::atomic<std::uint64_t> acked{0};  // written under m; read without it by the sending loop
    CIPCMessageClient client{kSender, true, false};
    COurSender() {
        client.BindMessageCallback(kAckMsg, [this](tagIPC_MESSAGE_ITEM& ack) {
            std::uint32_t count = 0;  // the receiver's count, modulo 2^32
            std::memcpy(&count, &ack.nReplyMessageID, sizeof(count));
            std::lock_guard lock(m);
            const std::uint64_t before = acked.load();
            acked.store(before + static_cast<std::uint32_t>(count - static_cast<std::uint32_t>(before)));
            cv.notify_one();
        });
        client.WaitForHub(kReady);
    }
};

std::unique_ptr<COurSender> g_ourSender;  // for the whole run; destroyed before the peers stop

COurSender& OurSender() {
    if (!g_ourSender) {
        ipcmsg::SetHubEndpoint(Peers().ours);
        g_ourSender = std::make_unique<COurSender>();
    }
    return *g_ourSender;
}

struct CPlainSender {
    zmq::context_t ctx{1};
    zmq::socket_t dealer{ctx, zmq::socket_type::dealer};
    std::uint64_t acked = 0;
    CPlainSender() {
        dealer.set(zmq::sockopt::linger, 0);
        dealer.set(zmq::sockopt::rcvtimeo, static_cast<int>(kReady.count()));
        dealer.connect(Peers().plain);
        dealer.send(zmq::str_buffer("a"));
        zmq::message_t known;
        ready = dealer.recv(known).has_value();
    }
    bool ready = false;
    // Takes one acknowledgement; blocking (up to kReady) or not.
    bool TakeAck(bool block) {
        zmq::message_t msg;
        if (!dealer.recv(msg, block ? zmq::recv_flags::none : zmq::recv_flags::dontwait)) return false;
        std::memcpy(&acked, msg.data<char>() + 1, sizeof(acked));
        return true;
    }
};

std::unique_ptr<CPlainSender> g_plainSender;

CPlainSender& PlainSender() {
    if (!g_plainSender) g_plainSender = std::make_unique<CPlainSender>();
    return *g_plainSender;
}

void BM_RoundTrip_Ours(benchmark::State& state) {
    if (!Peers().ok) return state.SkipWithError("peers did not start");
    auto& me = OurSender();
    std::string payload(static_cast<std::size_t>(state.range(0)), 'p');
    tagIPC_MESSAGE_ITEM request = MakeIPCPost(kReceiver, kEchoMsg, 0, payload.data(), static_cast<std::int32_t>(payload.size()));
    request.nSenderID = kSender;
    std::vector<double> us;
    us.reserve(1 << 16);
    std::int32_t sync = 0;
    for (auto _ : state) {
        request.nSyncMessageId = ++sync;
        tagIPC_MESSAGE_ITEM reply;
        const auto t0 = Clock::now();
        if (!me.client.SendIPCMessage(request, reply, 5000) || reply.nMessageLen != request.nMessageLen) {
            return state.SkipWithError("no reply");
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    Percentiles(state, us, "ours/" + std::to_string(state.range(0)));
}

void BM_RoundTrip_Plain(benchmark::State& state) {
    if (!Peers().ok || !PlainSender().ready) return state.SkipWithError("peers did not start");
    auto& me = PlainSender();
    std::string payload(static_cast<std::size_t>(state.range(0)), 'p');
    payload[0] = 'E';
    std::vector<double> us;
    us.reserve(1 << 16);
    zmq::message_t reply;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        me.dealer.send(zmq::buffer(payload), zmq::send_flags::none);
        if (!me.dealer.recv(reply) || reply.size() != payload.size()) return state.SkipWithError("no reply");
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    Percentiles(state, us, "plain/" + std::to_string(state.range(0)));
}

void BM_OneWay_Ours(benchmark::State& state) {
    if (!Peers().ok) return state.SkipWithError("peers did not start");
    auto& me = OurSender();
    std::string payload(static_cast<std::size_t>(state.range(0)), 's');
    tagIPC_MESSAGE_ITEM item = MakeIPCPost(kReceiver, kStreamMsg, 0, payload.data(), static_cast<std::int32_t>(payload.size()));
    item.nSenderID = kSender;
    std::uint64_t sent = me.acked.load();
    auto waitUntil = [&](auto done) {
        std::unique_lock lock(me.m);
        return me.cv.wait_for(lock, kReady, done);
    };
    const auto t0 = Clock::now();
    for (auto _ : state) {
        const std::uint64_t end = sent + kBatch;
        while (sent < end) {
            if (sent - me.acked.load() >= kWindow && !waitUntil([&] { return sent - me.acked.load() < kWindow; })) {
                return state.SkipWithError("stream stalled");
            }
            if (me.client.PostIPCMessage(item)) ++sent;
        }
        if (!waitUntil([&] { return me.acked.load() >= end; })) return state.SkipWithError("stream stalled");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
    auto& f = g_figures["ours/" + std::to_string(state.range(0))];
    f.streamSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    f.streamed += state.iterations() * kBatch;
}

void BM_OneWay_Plain(benchmark::State& state) {
    if (!Peers().ok || !PlainSender().ready) return state.SkipWithError("peers did not start");
    auto& me = PlainSender();
    std::string payload(static_cast<std::size_t>(state.range(0)), 's');
    payload[0] = 'S';
    std::uint64_t sent = me.acked;
    const auto t0 = Clock::now();
    for (auto _ : state) {
        const std::uint64_t end = sent + kBatch;
        while (sent < end) {
            // Acknowledgements are looked for when the window is full or now and then.
            const bool full = sent - me.acked >= kWindow;
            if ((full || sent % kAckEvery == 0) && me.TakeAck(full)) continue;
            if (full) return state.SkipWithError("stream stalled");
            me.dealer.send(zmq::buffer(payload), zmq::send_flags::none);
            ++sent;
        }
        while (me.acked < end) {
            if (!me.TakeAck(true)) return state.SkipWithError("stream stalled");
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
    auto& f = g_figures["plain/" + std::to_string(state.range(0))];
    f.streamSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    f.streamed += state.iterations() * kBatch;
}

// Repetitions run interleaved in random order, so both hubs see the same machine conditions.
BENCHMARK(BM_RoundTrip_Plain)->Arg(256)->Arg(4096)->UseRealTime()->MinTime(1.0)->Repetitions(4);
BENCHMARK(BM_RoundTrip_Ours)->Arg(256)->Arg(4096)->UseRealTime()->MinTime(1.0)->Repetitions(4);
BENCHMARK(BM_OneWay_Plain)->Arg(256)->Arg(4096)->UseRealTime()->MinTime(1.0)->Repetitions(4);
BENCHMARK(BM_OneWay_Ours)->Arg(256)->Arg(4096)->UseRealTime()->MinTime(1.0)->Repetitions(4);

void PrintRatios() {
    std::printf("\npooled over every repetition:\n%-6s %12s %12s %7s %12s %12s   %12s %12s %7s\n", "size",
                "plain p50us", "ours p50us", "ratio", "plain p99us", "ours p99us", "plain msg/s", "ours msg/s",
                "ratio");
    for (const char* size : {"256", "4096"}) {
        const auto& p = g_figures[std::string("plain/") + size];
        const auto& o = g_figures[std::string("ours/") + size];
        const double p50p = Percentile(p.roundTripUs, 0.5), p50o = Percentile(o.roundTripUs, 0.5);
        const double ratep = p.streamSeconds > 0 ? static_cast<double>(p.streamed) / p.streamSeconds : 0;
        const double rateo = o.streamSeconds > 0 ? static_cast<double>(o.streamed) / o.streamSeconds : 0;
        std::printf("%-6s %12.1f %12.1f %7.2f %12.1f %12.1f   %12.0f %12.0f %7.2f\n", size, p50p, p50o,
                    p50p > 0 ? p50o / p50p : 0.0, Percentile(p.roundTripUs, 0.99), Percentile(o.roundTripUs, 0.99),
                    ratep, rateo, ratep > 0 ? rateo / ratep : 0.0);
    }
    std::printf("targets: round-trip p50 ratio <= 1.3, throughput ratio >= 0.7\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--peer") {
        plat::CatchStopSignals();
        const std::string role = argv[2], endpoint = argc > 3 ? argv[3] : "";
        ipcmsg::SetHubEndpoint(endpoint);
        if (role == "ours-hub") return RunOursHub(endpoint);
        if (role == "ours-receiver") return RunOursReceiver();
        if (role == "plain-hub") return RunPlainHub(endpoint);
        if (role == "plain-receiver") return RunPlainReceiver(endpoint);
        return 2;
    }
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    PrintRatios();
    g_ourSender.reset();
    g_plainSender.reset();
    benchmark::Shutdown();
    return 0;
}
