// One driver check over a catalogue of 10,000 packages served from a file:// folder: the fetch
// (signature check, parsing, inventory and detected folders), the sorting into the tables on its
// own, and the whole check with the downloads refused (a full disk), so no download runs.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "IPCMessage/IPCEndpoint.h"
#include "IPCMessage/IPCHub.h"
#include "KVADownload/Catalogue.h"
#include "ServeKit/CatalogueMaker.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr int kPackages = 10000;

// 30 % forced; of the idle ones every other name may update when idle, the rest go to the notice.
struct CBenchMachine {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "kva-bench-driver-check";
    std::unique_ptr<ipcmsg::CHub> hub;

    CBenchMachine() {
        std::filesystem::remove_all(dir);
        plat::OpenMachine(dir);
        ipcmsg::SetHubEndpoint("inproc://kva-bench-driver-check");
        hub = std::make_unique<ipcmsg::CHub>();
        hub->Start();

        // The catalogue is written compact by hand: CCatalogueMaker's readable form of 10,000
        // packages would pass the download library's size limit for a catalogue.
        std::string pem, pub;
        GenerateMakerKey(&pem, &pub);
        const auto service = dir / "service";
        std::filesystem::create_directories(service / "catalogue");
        std::filesystem::create_directories(service / "packages");
        std::ofstream(service / "packages" / "p.bin") << "x";
        nlohmann::json packages = nlohmann::json::array();
        std::ostringstream idle;
        for (int i = 0; i < kPackages; ++i) {
            const bool forced = i % 10 < 3;
            const std::string name = "Package " + std::to_string(i);
            packages.push_back({{"kind", "driver"},
                                {"strDriverID", std::to_string(1000 + i)},
                                {"strDriverName", name},
                                {"versionInfo", {{"strNextVersion", "1.0." + std::to_string(i)},
                                                 {"strUrl", "packages/p.bin"},
                                                 {"FileSize", 1}}},
                                {"policy", {{"updateType", forced ? 2 : 5}}}});
            if (!forced && i % 2 == 0) idle << "<IdleUpdate name=\"" << name << "\"/>";
        }
        const std::string body =
            nlohmann::json{{"format", 1}, {"version", 1}, {"expires", 4102444800}, {"packages", packages}}.dump();
        std::ofstream(service / "catalogue" / (ModelKey() + ".json")) << body;
        std::ofstream(service / "catalogue" / (ModelKey() + ".json.sig")) << SignCatalogue(body, pem) << "\n";
        const auto cfg = CCommonCfgMgr::FilePath();
        std::filesystem::create_directories(cfg.parent_path());
        std::ofstream(cfg) << "<commoncfg><UpdateService url=\"file://" << service.string() << "\" publicKey=\"" << pub
                           << "\"/><Update initTime=\"5\" queryPeriod=\"600\">" << idle.str() << "</Update></commoncfg>";
        // The user agreed and opened the idle switch; the disk is "full" for the whole check.
        const std::wstring sid = VTPROCESS::GetCurrentUserSidstr();
        DE::Registry::SetValue(plat::kHKeyUsers, sid + L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide", L"Protocol", std::wstring(L"1"));
        DE::Registry::SetValue(plat::kHKeyUsers, sid + L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide", L"ProtocolVer", std::wstring(L"8"));
        DE::Registry::SetValue(plat::kHKeyUsers, sid + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting", L"checkupdate", plat::DWORD{1});
        plat::SetOverride("disk-free", "1");
    }
};

CBenchMachine& Machine() {
    static CBenchMachine machine;
    return machine;
}

std::vector<_TOBEUPDATE_DRIVER_INFO> Fetch() {
    std::vector<_TOBEUPDATE_DRIVER_INFO> list;
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    GetDriverNewVersionEx(list, ignored, 1);
    return list;
}

// A check whose fetch fails retries for 30 minutes: make sure the catalogue is taken first.
bool Ready(benchmark::State& state) {
    Machine();
    static const bool ok = Fetch().size() == static_cast<std::size_t>(kPackages);
    if (!ok) state.SkipWithError("the catalogue of 10,000 packages was not accepted");
    return ok;
}

void BM_FetchNewerPackages(benchmark::State& state) {
    if (!Ready(state)) return;
    std::size_t n = 0;
    for (auto _ : state) n = Fetch().size();
    state.counters["packages"] = static_cast<double>(n);
}
BENCHMARK(BM_FetchNewerPackages)->Unit(benchmark::kMillisecond)->Iterations(3);

// First sight of every package: a fresh service each time (made and dropped outside the timing).
void BM_SortIntoTables(benchmark::State& state) {
    if (!Ready(state)) return;
    const auto packages = Fetch();
    std::size_t forced = 0, idle = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto q = std::make_unique<CKVAServerQuery>();
        q->StartServerQuery();
        state.ResumeTiming();
        const auto sorted = q->SortDriverPackages(packages);
        state.PauseTiming();
        forced = sorted.forced.size();
        idle = sorted.idle.size();
        q.reset();
        state.ResumeTiming();
    }
    state.counters["forced"] = static_cast<double>(forced);
    state.counters["idle"] = static_cast<double>(idle);
}
BENCHMARK(BM_SortIntoTables)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_WholeCheckDownloadsRefused(benchmark::State& state) {
    if (!Ready(state)) return;
    auto q = std::make_unique<CKVAServerQuery>();
    q->StartServerQuery();
    for (auto _ : state) benchmark::DoNotOptimize(q->CheckSoftDriverVersion());
    state.counters["popup"] = static_cast<double>(q->PopupDrivers().size());
}
BENCHMARK(BM_WholeCheckDownloadsRefused)->Unit(benchmark::kMillisecond)->Iterations(3);

// With updates switched off in the configuration, a check reports one data event per idle
// package: 7,000 here.
void BM_DataEventPerIdlePackage(benchmark::State& state) {
    if (!Ready(state)) return;
    for (auto _ : state) {
        for (int i = 0; i < kPackages * 7 / 10; ++i) benchmark::DoNotOptimize(ReportEvent(evt::kUpdateDisabled));
    }
}
BENCHMARK(BM_DataEventPerIdlePackage)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
