// What the host costs while it waits between rounds: its threads and its wake-ups (context
// switches of all its threads, from /proc), over a quiet window after the first round, with the
// suite's hub and peers running in their own process, and with no hub at all. The period is an hour and nothing is
// downloading, so every wake-up counted is one the service did not have to make.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "kva/platform/Module.h"

namespace {

namespace fs = std::filesystem;

constexpr auto kSettle = std::chrono::seconds(8);   // start, first round, downloads of the inventory gap
constexpr auto kWindow = std::chrono::seconds(30);  // the quiet window measured

fs::path Kva() {
    const std::wstring exe = plat::HostExecutablePath();
    return fs::path(exe.substr(0, exe.rfind(L'/'))) / "kva";
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

long StatusField(const fs::path& status, const std::string& name) {
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
    }
    return 0;
}

struct CCounters {
    long threads = 0;
    long switches = 0;
};

CCounters Read(long pid) {
    CCounters c;
    const fs::path proc = fs::path("/proc") / std::to_string(pid);
    c.threads = StatusField(proc / "status", "Threads");
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(proc / "task", ec)) {
        c.switches += StatusField(task.path() / "status", "voluntary_ctxt_switches") +
                      StatusField(task.path() / "status", "nonvoluntary_ctxt_switches");
    }
    return c;
}

long ReadPid(const fs::path& file) {
    for (int i = 0; i < 100; ++i) {
        std::ifstream in(file);
        long pid = 0;
        if (in >> pid && pid > 0) return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

void BM_IdleBetweenRounds(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / "kva-bench-idle";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path machine = dir / "machine", service = dir / "service";
    const std::string kva = Quote(Kva()) + " --state " + Quote(machine);
    if (std::system((kva + " catalogue make " + Quote(service) + " --configure file://" + service.string() +
                     " --inventory >/dev/null 2>&1").c_str()) != 0) {
        state.SkipWithError("kva catalogue make failed");
        return;
    }
    // First round at once, the next one an hour later.
    const fs::path cfg = machine / "drive_c/Program Files/Vantor/Pilotdeck/config/commoncfg.xml";
    std::stringstream text;
    text << std::ifstream(cfg).rdbuf();
    std::string xml = text.str();
    xml.insert(xml.find("</commoncfg>"), "<Update initTime=\"0\" queryPeriod=\"60\"/>\n");
    std::ofstream(cfg) << xml;

    // With the suite running, or with no hub at all (the suite not installed or crashed).
    const bool withSuite = state.range(0) != 0;
    if (withSuite) {
        std::system((kva + " suite >/dev/null 2>&1 & echo $! > " + Quote(dir / "suite.pid")).c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    std::system((kva + " host >/dev/null 2>&1 & echo $! > " + Quote(dir / "host.pid")).c_str());
    const long suite = withSuite ? ReadPid(dir / "suite.pid") : 0, host = ReadPid(dir / "host.pid");
    CCounters before, after;
    for (auto _ : state) {
        std::this_thread::sleep_for(kSettle);
        before = Read(host);
        std::this_thread::sleep_for(kWindow);
        after = Read(host);
    }
    for (long pid : {host, suite}) {
        if (pid > 0) std::system(("kill " + std::to_string(pid)).c_str());
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (before.threads == 0 || after.threads == 0) {
        state.SkipWithError("the host did not run");
        return;
    }
    const double minutes = std::chrono::duration<double>(kWindow).count() / 60.0;
    state.counters["threads"] = static_cast<double>(after.threads);
    state.counters["wakeups_per_min"] = static_cast<double>(after.switches - before.switches) / minutes;
}
BENCHMARK(BM_IdleBetweenRounds)->ArgName("suite")->Arg(1)->Arg(0)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
