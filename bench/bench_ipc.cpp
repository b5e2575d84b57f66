// IPC through the hub between two processes over ipc://, beside a plain ZeroMQ ROUTER hub that
// forwards between two DEALERs (the same shape, no framing, tables or threads of ours), measured
// in the same run, taking turns (each goes first every other time):
//   RoundTrip  request/reply: this process sends (SendIPCMessage), a peer process answers from a
//              callback; p50 of each in counters.
//   OneWay     pipelined one-way stream: up to kWindow messages in flight, the receiver
//              acknowledges every kAckEvery (so neither hub ever drops); messages per second.
// Payloads of 256 B and 4 KiB. Each hub runs in a process of its own, and so does each receiver.
// The figures and the ratios (ours / plain) are printed at the end.
//
// Run: build/release/bin/bench_ipc [--pin CPU]  (the peers are this program again, started with
// --peer).
// The figures that count are the whole-run ones printed last.
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
#include "kva/platform/Machine.h"
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

// Everything measured, pooled over the whole run, per "ours/256" etc.
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

// Our sender: one client for the whole run, acknowledgements counted by its callback.
struct COurSender {
    std::mutex m;
    std::condition_variable cv;
    std::atomic<std::uint64_t> acked{0};  // written under m; read without it by the sending loop
    CIPCMessageClient client{kSender, true, false};
    std::int32_t sync = 0;
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
    template <class Pred>
    bool WaitUntil(Pred done) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, kReady, done);
    }

    // One request and its reply; microseconds, or a negative value when no reply came.
    double RoundTrip(std::string& payload) {
        tagIPC_MESSAGE_ITEM request =
            MakeIPCPost(kReceiver, kEchoMsg, 0, payload.data(), static_cast<std::int32_t>(payload.size()));
        request.nSenderID = kSender;
        request.nSyncMessageId = ++sync;
        tagIPC_MESSAGE_ITEM reply;
        const auto t0 = Clock::now();
        if (!client.SendIPCMessage(request, reply, 5000) || reply.nMessageLen != request.nMessageLen) return -1;
        return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }

    // kBatch items through the window; seconds, or a negative value when the stream stalled.
    double Stream(std::string& payload) {
        tagIPC_MESSAGE_ITEM item =
            MakeIPCPost(kReceiver, kStreamMsg, 0, payload.data(), static_cast<std::int32_t>(payload.size()));
        item.nSenderID = kSender;
        std::uint64_t sent = acked.load();
        const std::uint64_t end = sent + kBatch;
        const auto t0 = Clock::now();
        while (sent < end) {
            if (sent - acked.load() >= kWindow && !WaitUntil([&] { return sent - acked.load() < kWindow; })) return -1;
            if (client.PostIPCMessage(item)) ++sent;
        }
        if (!WaitUntil([&] { return acked.load() >= end; })) return -1;
        return std::chrono::duration<double>(Clock::now() - t0).count();
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
    bool ready = false;
    CPlainSender() {
        dealer.set(zmq::sockopt::linger, 0);
        dealer.set(zmq::sockopt::rcvtimeo, static_cast<int>(kReady.count()));
        dealer.connect(Peers().plain);
        dealer.send(zmq::str_buffer("a"));
        zmq::message_t known;
        ready = dealer.recv(known).has_value();
    }
    // Takes one acknowledgement; blocking (up to kReady) or not.
    bool TakeAck(bool block) {
        zmq::message_t msg;
        if (!dealer.recv(msg, block ? zmq::recv_flags::none : zmq::recv_flags::dontwait)) return false;
        std::memcpy(&acked, msg.data<char>() + 1, sizeof(acked));
        return true;
    }

    double RoundTrip(std::string& payload) {
        payload[0] = 'E';
        zmq::message_t reply;
        const auto t0 = Clock::now();
        dealer.send(zmq::buffer(payload), zmq::send_flags::none);
        if (!dealer.recv(reply) || reply.size() != payload.size()) return -1;
        return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }

    double Stream(std::string& payload) {
        payload[0] = 'S';
        std::uint64_t sent = acked;
        const std::uint64_t end = sent + kBatch;
        const auto t0 = Clock::now();
        while (sent < end) {
            // Acknowledgements are looked for when the window is full or now and then.
            const bool full = sent - acked >= kWindow;
            if ((full || sent % kAckEvery == 0) && TakeAck(full)) continue;
            if (full) return -1;
            dealer.send(zmq::buffer(payload), zmq::send_flags::none);
            ++sent;
        }
        while (acked < end) {
            if (!TakeAck(true)) return -1;
        }
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
};

std::unique_ptr<CPlainSender> g_plainSender;

CPlainSender& PlainSender() {
    if (!g_plainSender) g_plainSender = std::make_unique<CPlainSender>();
    return *g_plainSender;
}

// The machine this runs on is shared and its load changes by the second, so the two hubs take
// turns in short blocks inside one benchmark: both see the same conditions. One iteration is a
// block of kRoundTripBlock round trips through each hub.
constexpr int kRoundTripBlock = 32;

// Runs both blocks of one iteration, each going first every other time, so that neither side always
// follows the other's block (whose caches and scheduling it would inherit).
template <class Plain, class Ours>
void TakeTurns(bool& plainFirst, Plain plainBlock, Ours oursBlock) {
    if (plainFirst) {
        plainBlock();
        oursBlock();
    } else {
        oursBlock();
        plainBlock();
    }
    plainFirst = !plainFirst;
}

void BM_RoundTrip(benchmark::State& state) {
    if (!Peers().ok || !PlainSender().ready) return state.SkipWithError("peers did not start");
    auto& ours = OurSender();
    auto& plain = PlainSender();
    const std::string size = std::to_string(state.range(0));
    std::string payload(static_cast<std::size_t>(state.range(0)), 'p');
    std::vector<double> plainUs, oursUs;
    auto plainBlock = [&] {
        for (int i = 0; i < kRoundTripBlock; ++i) plainUs.push_back(plain.RoundTrip(payload));
    };
    auto oursBlock = [&] {
        for (int i = 0; i < kRoundTripBlock; ++i) oursUs.push_back(ours.RoundTrip(payload));
    };
    bool plainFirst = true;
    for (auto _ : state) TakeTurns(plainFirst, plainBlock, oursBlock);
    if (std::any_of(plainUs.begin(), plainUs.end(), [](double v) { return v < 0; }) ||
        std::any_of(oursUs.begin(), oursUs.end(), [](double v) { return v < 0; })) {
        return state.SkipWithError("a request got no reply");
    }
    state.counters["plain_p50_us"] = Percentile(plainUs, 0.5);
    state.counters["ours_p50_us"] = Percentile(oursUs, 0.5);
    state.counters["p50_ratio"] = Percentile(oursUs, 0.5) / Percentile(plainUs, 0.5);
    auto& p = g_figures["plain/" + size].roundTripUs;
    auto& o = g_figures["ours/" + size].roundTripUs;
    p.insert(p.end(), plainUs.begin(), plainUs.end());
    o.insert(o.end(), oursUs.begin(), oursUs.end());
}

// One iteration streams kBatch items through each hub.
void BM_OneWay(benchmark::State& state) {
    if (!Peers().ok || !PlainSender().ready) return state.SkipWithError("peers did not start");
    auto& ours = OurSender();
    auto& plain = PlainSender();
    const std::string size = std::to_string(state.range(0));
    std::string payload(static_cast<std::size_t>(state.range(0)), 's');
    double plainSeconds = 0, oursSeconds = 0;
    bool plainFirst = true;
    for (auto _ : state) {
        double p = 0, o = 0;
        TakeTurns(plainFirst, [&] { p = plain.Stream(payload); }, [&] { o = ours.Stream(payload); });
        if (p < 0 || o < 0) return state.SkipWithError("a stream stalled");
        plainSeconds += p;
        oursSeconds += o;
    }
    const double n = static_cast<double>(state.iterations() * kBatch);
    state.counters["plain_msg_per_s"] = n / plainSeconds;
    state.counters["ours_msg_per_s"] = n / oursSeconds;
    state.counters["rate_ratio"] = plainSeconds / oursSeconds;
    g_figures["plain/" + size].streamSeconds += plainSeconds;
    g_figures["ours/" + size].streamSeconds += oursSeconds;
    g_figures["plain/" + size].streamed += state.iterations() * kBatch;
    g_figures["ours/" + size].streamed += state.iterations() * kBatch;
}

BENCHMARK(BM_RoundTrip)->Arg(256)->Arg(4096)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_OneWay)->Arg(256)->Arg(4096)->UseRealTime()->MinTime(3.0);

void PrintRatios() {
    std::printf("\nwhole run:\n%-6s %12s %12s %7s %12s %12s   %12s %12s %7s\n", "size", "plain p50us", "ours p50us",
                "ratio", "plain p99us", "ours p99us", "plain msg/s", "ours msg/s", "ratio");
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
    std::printf("targets: round-trip p50 ratio <= 1.2 (with --pin), throughput ratio >= 0.7\n");
}

}  // namespace

// --pin CPU runs the whole benchmark (this process and every peer, which inherit it) on that one
// CPU through taskset: both hubs then pay for each thread hop in full, without the luck of another
// CPU being free at that moment.
int RunPinned(int argc, char** argv, const std::string& cpu) {
    std::vector<std::string> args = {"-c", cpu, plat::ToUtf8(plat::HostExecutablePath())};
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--pin") {
            ++i;
        } else {
            args.push_back(argv[i]);
        }
    }
    plat::CChildProcess pinned;
    if (!pinned.Start("/usr/bin/taskset", args)) {
        std::cerr << "cannot start /usr/bin/taskset\n";
        return 1;
    }
    std::string line;
    while (pinned.ReadLine(&line, std::chrono::hours(1))) std::cout << line << std::endl;
    return pinned.Wait(std::chrono::seconds(10));
}

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--pin") return RunPinned(argc, argv, argv[i + 1]);
    }
    const bool peer = argc >= 3 && std::string(argv[1]) == "--peer";
    if (peer) plat::CatchStopSignals();  // before anything starts a thread
    // A machine of the benchmark's own (its log included), not the user's.
    plat::OpenMachine(std::filesystem::temp_directory_path() / "kva-bench-machine");
    if (peer) {
        const std::string role = argv[2], endpoint = argc > 3 ? argv[3] : "";
        ipcmsg::SetHubEndpoint(endpoint);
        if (role == "ours-hub") return RunOursHub(endpoint);
        if (role == "ours-receiver") return RunOursReceiver();
        if (role == "plain-hub") return RunPlainHub(endpoint);
        if (role == "plain-receiver") return RunPlainReceiver(endpoint);
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    PrintRatios();
    g_ourSender.reset();
    g_plainSender.reset();
    benchmark::Shutdown();
    return 0;
}
