// kva demo: the update road on a fresh simulated machine. It makes a signed sample update service
// with packages of a few MB, starts `kva serve` (at a limited rate), `kva suite` and `kva host` as
// processes on a scaled clock, tells each round as a story (DemoStory.h), takes the restart prompt
// through postpone and restart now, and stops everything after --rounds rounds and the restart, or
// at Ctrl-C, leaving the state folder for inspection.

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
#include "DemoStory.h"
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
    std::string packageSize = "3M";
    std::string rate = "1M";
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
    update.append_child("IdleUpdate").append_attribute("name") = "Onboard Audio Driver";
    std::cout << "== the user's settings: agreement accepted, idle driver updates on; the configuration lets\n"
              << "   \"Onboard Audio Driver\" update when idle (the other idle packages are offered in the notice)\n";
    return registry && doc.save_file(file.c_str());
}

plat::CEvent g_interrupted;

void WatchInterrupt() {
    plat::CatchStopSignals();
    std::thread([] {
        plat::WaitForStopSignal();
        g_interrupted.Set();
    }).detach();
}

// Tells the story until `rounds` rounds were seen and the machine rebooted at the end of the
// restart prompt, or the user interrupts. The meeting ends once a round after the first found the
// idle package refused for it.
int FollowRounds(int rounds, kva::CDemoStory& story, plat::CChildProcess& suite) {
    bool meeting = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while ((story.Rounds() < rounds || !story.Restart().Rebooted()) && !g_interrupted.IsSet() &&
           std::chrono::steady_clock::now() < deadline) {
        story.Poll(std::cout);
        if (meeting && story.Rounds() >= 2 && story.RefusalsTold() > 0) {
            kva::EndDemoMeeting(std::cout);
            meeting = false;
        }
        std::string line;
        while (suite.ReadLine(&line, std::chrono::milliseconds(20))) story.OnSuiteLine(line, std::cout);
        // Real time: the demo watches processes that run on their own scaled clocks.
        plat::CClock::Get().Wait({&g_interrupted}, 100);
    }
    return story.Rounds();
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
    auto start = [&](plat::CChildProcess& child, std::vector<std::string> args, const std::string& what) {
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
    start(serve, {"serve", service, "--rate", o.rate}, "kva serve (" + o.rate + "B a second per download)");
    std::string served;
    const bool serving = serve.ReadLine(&served, std::chrono::seconds(30)) && served.find("http://") != std::string::npos;
    const std::string url = serving ? served.substr(served.find("http://")) : std::string();
    std::cout << "== the update service: a signed sample catalogue in " << service << "\n";
    if (!serving ||
        !RunKva(globals, {"catalogue", "make", service, "--configure", url, "--inventory", "--payload", o.packageSize}) ||
        !SetDemoSchedule(o.periodMinutes) || !SetDemoSettings() || !kva::SetDemoAppUpdatePath(o.appUpdate)) {
        std::cerr << "kva demo: cannot make the sample service\n";
        throw CLI::RuntimeError(1);
    }
    kva::StartDemoMeeting(std::cout);
    std::vector<std::string> suiteArgs = {"suite"};
    for (auto& step : kva::DemoNoticeSteps()) suiteArgs.push_back(step);
    start(suite, suiteArgs, "kva suite (its installer installs, its message centre answers the first notice)");
    // With -v the story shows the host's log lines as they are written to its log file.
    start(host, {"host"}, globals.verbose ? "kva host (its log lines follow, marked |)" : "kva host (its log: -v, or logs/ later)");

    kva::CDemoStory story(globals.verbose, scale);
    story.SetHostLog(std::filesystem::path(globals.stateFolder) / "logs" / ("kva-" + std::to_string(host.Pid()) + ".log"));
    const int seen = FollowRounds(o.rounds, story, suite);
    std::cout << "== stopping after " << seen << " round(s)" << (g_interrupted.IsSet() ? " (interrupted)" : "") << "\n";
    host.Stop();
    suite.Stop();
    serve.Stop();
    story.Poll(std::cout);
    story.Packages().PrintTable(std::cout);
    kva::PrintHistory(std::cout);
    std::cout << "\nThe state folder stays for inspection:\n"
              << "  kva --state " << globals.stateFolder << " events\n"
              << "  kva --state " << globals.stateFolder << " machine show\n"
              << "  kva --state " << globals.stateFolder << " history\n"
              << "  logs: " << globals.stateFolder << "/logs/\n";
    if (!g_interrupted.IsSet() && (seen < o.rounds || !story.Restart().Rebooted())) {
        std::cerr << "kva demo: the road did not reach the reboot within 3 minutes; the logs in " << globals.stateFolder
                  << "/logs/ say why\n";
        throw CLI::RuntimeError(1);
    }
}

}  // namespace

KVA_VERB(demo) {
    auto* demo = app.add_subcommand("demo", "Run the update road on a fresh simulated machine");
    demo->footer("Example:\n  kva demo --rounds 2\n  kva demo --period 10 --time-scale 120\n");
    auto o = std::make_shared<CDemoOptions>();
    demo->add_option("--rounds", o->rounds, "Stop after this many check rounds (and the restart)")->check(CLI::Range(1, 20));
    demo->add_option("--period", o->periodMinutes, "Minutes between rounds (service time)")->check(CLI::Range(1, 600));
    demo->add_option("--app-update", o->appUpdate, "How the new application version comes: silent, window or forced");
    demo->add_option("--package-size", o->packageSize, "Size of every sample package, e.g. 3M")->capture_default_str();
    demo->add_option("--rate", o->rate, "Bytes a second the update service sends a download, e.g. 1M")->capture_default_str();
    demo->callback([&globals, o] { RunDemo(globals, *o); });
}
