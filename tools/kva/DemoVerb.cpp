// kva demo: the update road on a fresh simulated machine. It makes a signed sample update service,
// starts `kva serve`, `kva suite` and `kva host` as processes on a scaled clock, shows each round
// as it happens (the host's log lines and the data events), and stops everything after --rounds
// rounds, or at Ctrl-C, leaving the state folder for inspection.

#include <atomic>
#include <chrono>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <thread>

#include <pugixml.hpp>

#include "CommonCfgEdit.h"
#include "DataReport/BIDataReport.h"
#include "DemoInstall.h"
#include "DemoNotices.h"
#include "DemoPackages.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "Verbs.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Module.h"
#include "kva/platform/Process.h"
#include "kva/platform/Text.h"

namespace {

struct CDemoOptions {
    int rounds = 3;
    int periodMinutes = 5;
    std::string appUpdate = "silent";
};

std::filesystem::path KvaPath() { return std::filesystem::path(plat::ToUtf8(plat::HostExecutablePath())); }

std::vector<std::string> Common(const kva::CGlobals& g) {
    std::ostringstream scale;
    scale << g.timeScale;
    return {"--state", g.stateFolder, "--time-scale", scale.str()};
}

// Runs a kva verb to completion, echoing its output.
bool RunKva(const kva::CGlobals& g, std::vector<std::string> args) {
    auto all = Common(g);
    all.insert(all.end(), args.begin(), args.end());
    plat::CChildProcess child;
    if (!child.Start(KvaPath(), all)) return false;
    std::string line;
    while (child.ReadLine(&line, std::chrono::seconds(60))) std::cout << "  " << line << "\n";
    return child.Wait(std::chrono::seconds(60)) == 0;
}

// Short start delay and period, so rounds come every few seconds on the scaled clock.
bool SetDemoSchedule(int periodMinutes) {
    return kva::EditCommonCfg("Update", [&](pugi::xml_node& update) {
        for (const char* a : {"initTime", "queryPeriod"}) update.remove_attribute(a);
        update.append_attribute("initTime") = 1;
        update.append_attribute("queryPeriod") = periodMinutes;
    });
}

// The demo user accepted the agreement and let drivers update when idle; the configuration lets
// the audio driver update in idle time, so the sample packages land in every table.
bool SetDemoSettings() {
    const std::wstring sid = VTPROCESS::GetCurrentUserSidstr();
    const std::wstring guide = sid + L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide";
    const bool registry = DE::Registry::SetValue(plat::kHKeyUsers, guide, L"Protocol", std::wstring(L"1")) &&
                          DE::Registry::SetValue(plat::kHKeyUsers, guide, L"ProtocolVer", std::wstring(L"8")) &&
                          DE::Registry::SetValue(plat::kHKeyUsers, sid + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting",
                                                 L"checkupdate", plat::DWORD{1});
    const auto file = CCommonCfgMgr::FilePath();
    pugi::xml_document doc;
    doc.load_file(file.c_str());
    auto update = doc.child("commoncfg").child("Update");
    if (!update) return false;
    update.append_child("IdleUpdate").append_attribute("name") = "Realtek Audio Driver";
    std::cout << "== the user's settings: agreement accepted, idle driver updates on; the configuration lets\n"
              << "   \"Realtek Audio Driver\" update when idle (the other idle packages are offered in the notice)\n";
    return registry && doc.save_file(file.c_str());
}

void PrintEvent(const DataEventRecord& e) {
    std::cout << "  event " << e.eventId;
    if (e.eventId >= 601000000 && e.eventId < 601010000) std::cout << " (" << e.eventId - 601000000 << ")";
    std::cout << " [";
    for (std::size_t i = 0; i < e.values.size(); ++i) std::cout << (i ? ", " : "") << e.values[i];
    std::cout << "]" << std::endl;
    if (const std::string words = kva::DescribeInstallEvent(e); !words.empty()) std::cout << "  " << words << std::endl;
}

plat::CEvent g_interrupted;

void WatchInterrupt() {
    plat::CatchStopSignals();
    std::thread([] {
        plat::WaitForStopSignal();
        g_interrupted.Set();
    }).detach();
}

// Prints new data events, the packages as the service sorts and downloads them, and what the
// suite's peers did, until `rounds` rounds were seen or the user interrupts.
int FollowRounds(int rounds, kva::CDemoPackages& packages, plat::CChildProcess& suite) {
    std::int64_t last = 0;
    int seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (seen < rounds && !g_interrupted.IsSet() && std::chrono::steady_clock::now() < deadline) {
        for (const auto& e : CBIDataReport::GetInstance()->Events(std::nullopt, last)) {
            last = e.seq;
            PrintEvent(e);
            if (e.eventId == 601003001) std::cout << "== round " << ++seen << " ==" << std::endl;
        }
        packages.Poll(std::cout);
        std::string line;
        while (suite.ReadLine(&line, std::chrono::milliseconds(20))) std::cout << "  suite: " << line << std::endl;
        // Real time: the demo watches processes that run on their own scaled clocks.
        plat::CClock::Get().Wait({&g_interrupted}, 200);
    }
    return seen;
}

void RunDemo(kva::CGlobals& globals, const CDemoOptions& o) {
    WatchInterrupt();
    if (globals.stateFolder.empty()) {
        globals.stateFolder = (std::filesystem::temp_directory_path() / ("kva-demo-" + std::to_string(std::time(nullptr)))).string();
    }
    if (std::filesystem::exists(globals.stateFolder) && !std::filesystem::is_empty(globals.stateFolder)) {
        std::cerr << "kva demo: " << globals.stateFolder << " is not empty; give a fresh --state folder\n";
        throw CLI::RuntimeError(2);
    }
    if (globals.timeScale == 1.0) globals.timeScale = 60;  // a minute passes in a second
    const double scale = globals.timeScale;
    globals.timeScale = 1.0;  // the demo itself watches in real time
    if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
    globals.timeScale = scale;
    std::cout << "kva demo: a fresh simulated machine in " << globals.stateFolder << ", clock x" << scale << "\n";

    const std::string service = (std::filesystem::path(globals.stateFolder) / "service").string();
    plat::CChildProcess serve, suite, host;
    auto start = [&](plat::CChildProcess& child, std::vector<std::string> args, const char* what) {
        auto all = Common(globals);
        all.insert(all.end(), args.begin(), args.end());
        if (!child.Start(KvaPath(), all)) {
            std::cerr << "kva demo: cannot start " << what << "\n";
            throw CLI::RuntimeError(1);
        }
        std::cout << "== started " << what << " (pid " << child.Pid() << ")" << std::endl;
    };
    // `kva serve` picks its own free port and names it in its first line.
    std::filesystem::create_directories(service);
    start(serve, {"serve", service}, "kva serve");
    std::string served;
    const bool serving = serve.ReadLine(&served, std::chrono::seconds(30)) && served.find("http://") != std::string::npos;
    const std::string url = serving ? served.substr(served.find("http://")) : std::string();
    std::cout << "== the update service: a signed sample catalogue in " << service << "\n";
    if (!serving || !RunKva(globals, {"catalogue", "make", service, "--configure", url, "--inventory"}) ||
        !SetDemoSchedule(o.periodMinutes) || !SetDemoSettings() || !kva::SetDemoAppUpdatePath(o.appUpdate)) {
        std::cerr << "kva demo: cannot make the sample service\n";
        throw CLI::RuntimeError(1);
    }
    kva::PrepareDemoRefusal(std::cout);
    std::vector<std::string> suiteArgs = {"suite"};
    for (const auto& step : kva::DemoInstallSuiteSteps()) suiteArgs.insert(suiteArgs.end(), {"--do", step});
    for (auto& step : kva::DemoNoticeSteps()) suiteArgs.push_back(step);
    start(suite, suiteArgs, "kva suite (its installer installs, its message centre answers the first notice)");
    start(host, {"-v", "host"}, "kva host (its log lines follow)");

    kva::CDemoPackages packages;
    const int seen = FollowRounds(o.rounds, packages, suite);
    std::cout << "== stopping after " << seen << " round(s)" << (g_interrupted.IsSet() ? " (interrupted)" : "") << "\n";
    host.Stop();
    suite.Stop();
    serve.Stop();
    packages.Poll(std::cout);
    packages.PrintTable(std::cout);
    kva::PrintHistory(std::cout);
    std::cout << "\nThe state folder stays for inspection:\n"
              << "  kva --state " << globals.stateFolder << " events\n"
              << "  kva --state " << globals.stateFolder << " machine show\n"
              << "  kva --state " << globals.stateFolder << " history\n"
              << "  logs: " << globals.stateFolder << "/logs/\n";
    if (seen < o.rounds && !g_interrupted.IsSet()) throw CLI::RuntimeError(1);
}

}  // namespace

KVA_VERB(demo) {
    auto* demo = app.add_subcommand("demo", "Run the update road on a fresh simulated machine");
    demo->footer("Example:\n  kva demo --rounds 2\n  kva demo --period 10 --time-scale 120\n");
    auto o = std::make_shared<CDemoOptions>();
    demo->add_option("--rounds", o->rounds, "Stop after this many check rounds")->check(CLI::Range(1, 20));
    demo->add_option("--period", o->periodMinutes, "Minutes between rounds (service time)")->check(CLI::Range(1, 600));
    demo->add_option("--app-update", o->appUpdate, "How the new application version comes: silent, window or forced");
    demo->callback([&globals, o] { RunDemo(globals, *o); });
}
