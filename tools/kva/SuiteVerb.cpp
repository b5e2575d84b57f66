// kva suite [--trace] [--scenario FILE] [--do STEP]... [--interactive] [--no-peers]: the suite's
// other processes: the IPC hub of the machine and the peers of SuitePeers.h, in the foreground
// until SIGINT or SIGTERM. Steps run in order: the scenario file, then each --do, then (interactive) the
// lines of the standard input.
#include <atomic>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "IPCMessage/IPCFrame.h"
#include "IPCMessage/IPCHub.h"
#include "IpcText.h"
#include "SuitePeers.h"
#include "Verbs.h"
#include "kva/platform/Process.h"

namespace {

struct CSuiteOptions {
    bool trace = false;
    std::string endpoint;
    std::string scenario;
    std::vector<std::string> steps;
    bool interactive = false;
    bool noPeers = false;
};

std::mutex g_outMutex;

void PrintLine(const std::string& line) {
    std::lock_guard lock(g_outMutex);
    std::cout << line << std::endl;
}

// Reads steps from the standard input until it ends or `stop` is set; polls so that a stop is
// seen without input.
void ReadSteps(kva::CSuitePeers& peers, const std::atomic<bool>& stop) {
    std::string pending;
    char buf[4096];
    while (!stop) {
        const long n = plat::ReadStandardInput(buf, sizeof(buf), std::chrono::milliseconds(100));
        if (n == -1) continue;
        if (n <= 0) return;
        pending.append(buf, static_cast<std::size_t>(n));
        for (auto nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
            std::string error;
            if (!peers.Run(pending.substr(0, nl), &error)) PrintLine("kva suite: " + error);
            pending.erase(0, nl + 1);
        }
    }
}

void PrintEvent(const ipcmsg::CHubEvent& ev) {
    using EKind = ipcmsg::CHubEvent::EKind;
    std::string line;
    switch (ev.kind) {
        case EKind::Routed:
            line = std::string(ev.item->nReceiverID == -1 ? "broadcast " : ev.syncRequest ? "request   " : "item      ") +
                   kva::DescribeItem(*ev.item) + " (to " + std::to_string(ev.deliveries) + ")";
            if (ev.item->nReceiverID == -1) line += " topic " + kva::HexId(static_cast<std::int32_t>(ipcmsg::TopicOf(ev.item->nMessageID)));
            break;
        case EKind::Dropped:
            line = "dropped   " + kva::DescribeItem(*ev.item) + " (" + std::string(ev.detail) + ")";
            break;
        case EKind::Refused:
            line = "refused   (" + std::string(ev.detail) + ")";
            break;
        case EKind::Announced:
            line = "endpoint  " + kva::HexId(ev.endpointId) + " connected";
            break;
        case EKind::Subscribed:
            line = "subscribe " + kva::HexId(ev.endpointId) + " to topic " + kva::HexId(static_cast<std::int32_t>(ev.topic)) +
                   (ev.filter ? " message " + kva::HexId(static_cast<std::int32_t>(ev.filter)) : std::string());
            break;
        case EKind::Left:
            line = "endpoint  " + kva::HexId(ev.endpointId) + " left";
            break;
    }
    std::lock_guard lock(g_outMutex);
    std::cout << line << std::endl;
}

int RunSuite(const CSuiteOptions& options) {
    ipcmsg::CHub hub(options.endpoint.empty() ? ipcmsg::HubEndpoint() : options.endpoint);
    if (options.trace) hub.SetObserver(&PrintEvent);
    if (!hub.Start()) {
        std::cerr << "kva suite: cannot start the hub at " << hub.Endpoint() << " (see the log)\n";
        return 1;
    }
    {
        std::lock_guard lock(g_outMutex);
        std::cout << "kva suite: hub listening at " << hub.Endpoint() << std::endl;
    }
    std::unique_ptr<kva::CSuitePeers> peers;
    if (!options.noPeers) {
        peers = std::make_unique<kva::CSuitePeers>(&PrintLine);
        if (!peers->Start()) {
            std::cerr << "kva suite: the peers cannot reach the hub\n";
            return 1;
        }
        PrintLine("kva suite: peers ready: synergy 0x150000, application manager 0xF0000, system state 0x300000, message centre 0x40000");
        std::string error;
        if (!options.scenario.empty() && !peers->RunFile(options.scenario, &error)) PrintLine("kva suite: " + error);
        for (const auto& step : options.steps) {
            if (!peers->Run(step, &error)) PrintLine("kva suite: " + error);
        }
    }
    std::atomic<bool> stopReading{false};
    std::thread reader;
    if (peers && options.interactive) reader = std::thread([&] { ReadSteps(*peers, stopReading); });
    const int sig = plat::WaitForStopSignal();
    stopReading = true;
    if (reader.joinable()) reader.join();
    peers.reset();  // the peers leave while the hub still takes their goodbyes
    hub.Stop();
    const auto stats = hub.Stats();
    std::lock_guard lock(g_outMutex);
    std::cout << "kva suite: stopped by signal " << sig << "; " << stats.items << " items, " << stats.deliveries
              << " deliveries, " << stats.dropped << " dropped, " << stats.queueFull << " not queued (full), "
              << stats.refused << " refused" << std::endl;
    return 0;
}

}  // namespace

KVA_VERB(suite) {
    auto options = std::make_shared<CSuiteOptions>();
    auto* suite = app.add_subcommand("suite", "Run the suite's IPC hub and its peers until stopped");
    suite->footer("Example:\n  kva suite --trace\n  kva suite --do 'synergy 1' --interactive\n");
    suite->add_flag("--trace", options->trace, "Print every item that passes the hub");
    suite->add_option("--scenario", options->scenario, "Steps for the peers, one per line (see SuitePeers.h)")
        ->check(CLI::ExistingFile);
    suite->add_option("--do", options->steps, "A step for the peers, e.g. \"synergy 1\" or \"scene free\"");
    suite->add_flag("--interactive", options->interactive, "Read further steps from the standard input");
    suite->add_flag("--no-peers", options->noPeers, "Run the hub alone (for peers of your own)");
    suite->add_option("--endpoint", options->endpoint, "Hub address (default: ipc://<state>/ipc/hub.sock)")
        ->envname("KVA_IPC_ENDPOINT");
    suite->callback([options, &globals] {
        plat::CatchStopSignals();  // before logging or the hub start threads
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        if (const int rc = RunSuite(*options); rc != 0) throw CLI::RuntimeError(rc);
    });
}
