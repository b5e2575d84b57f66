// kva suite [--trace]: the suite's other processes. Today: the IPC hub of the machine, in the
// foreground until SIGINT or SIGTERM; the suite's peers attach to the same process later.
#include <iostream>
#include <mutex>

#include "IPCMessage/IPCFrame.h"
#include "IPCMessage/IPCHub.h"
#include "IpcText.h"
#include "Verbs.h"
#include "kva/platform/Process.h"

namespace {

struct CSuiteOptions {
    bool trace = false;
    std::string endpoint;
};

std::mutex g_outMutex;

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
    const int sig = plat::WaitForStopSignal();
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
    auto* suite = app.add_subcommand("suite", "Run the suite's IPC hub (and, later, its peers) until stopped");
    suite->add_flag("--trace", options->trace, "Print every item that passes the hub");
    suite->add_option("--endpoint", options->endpoint, "Hub address (default: ipc://<state>/ipc/hub.sock)")
        ->envname("KVA_IPC_ENDPOINT");
    suite->callback([options, &globals] {
        plat::CatchStopSignals();  // before logging or the hub start threads
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        if (const int rc = RunSuite(*options); rc != 0) throw CLI::RuntimeError(rc);
    });
}
