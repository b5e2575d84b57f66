// The host's view of the service: how long StartKVAServerQuery takes to return, how long the
// unload (the service's destructor) takes, and the resident memory after a start. The configured
// period is hours, so a fast unload shows that every wait ends with the stop.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "kva/platform/Machine.h"
#include "kva/platform/Module.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Text.h"

namespace {

using StartFn = bool (*)();

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void PrepareMachine() {
    static bool done = [] {
        const auto dir = std::filesystem::temp_directory_path() / "kva-bench-service";
        std::filesystem::remove_all(dir);
        plat::OpenMachine(dir);
        const auto cfg = plat::ToHostPath("C:\\Program Files\\Vantor\\Pilotdeck\\config\\commoncfg.xml");
        std::filesystem::create_directories(cfg.parent_path());
        std::ofstream(cfg) << R"(<commoncfg><Update initTime="5" queryPeriod="600"/></commoncfg>)";
        return true;
    }();
    (void)done;
}

std::wstring LibraryPath() {
    const std::wstring exe = plat::HostExecutablePath();
    return exe.substr(0, exe.rfind(L'/')) + L"/libKVAUpdaterCheck.so";
}

void BM_StartAndUnload(benchmark::State& state) {
    PrepareMachine();
    double startMs = 0, unloadMs = 0, rss = 0;
    for (auto _ : state) {
        plat::HMODULE lib = plat::LoadModule(LibraryPath());
        if (!lib) {
            state.SkipWithError("cannot load libKVAUpdaterCheck.so");
            return;
        }
        auto start = reinterpret_cast<StartFn>(plat::GetModuleExport(lib, "StartKVAServerQuery"));
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(start());
        auto t1 = std::chrono::steady_clock::now();
        rss = ResidentMiB();
        plat::FreeModule(lib);
        auto t2 = std::chrono::steady_clock::now();
        startMs += std::chrono::duration<double, std::milli>(t1 - t0).count();
        unloadMs += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["start_ms"] = startMs / n;
    state.counters["unload_ms"] = unloadMs / n;
    state.counters["rss_after_start_MiB"] = rss;
}
BENCHMARK(BM_StartAndUnload)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
