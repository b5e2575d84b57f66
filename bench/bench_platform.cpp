// The simulated machine's hot calls: registry reads and writes that every gate of the service
// makes, the desktop probe's window-at-point, and a clock wake-up across threads.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <thread>

#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Registry.h"

namespace {

void OpenBenchMachine() {
    static bool opened = [] {
        const auto dir = std::filesystem::temp_directory_path() / "kva-bench-machine";
        std::filesystem::remove_all(dir);
        return plat::OpenMachine(dir);
    }();
    (void)opened;
}

const std::wstring& SettingKey() {
    static const std::wstring key = plat::CurrentUserSid() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting";
    return key;
}

void BM_RegistryOpenReadClose(benchmark::State& state) {
    OpenBenchMachine();
    plat::HKEY key = 0;
    plat::RegCreateKey(plat::kHKeyUsers, SettingKey(), 0, plat::kKeyAllAccess, &key);
    plat::RegSetDword(key, L"autoupdate", 1);
    plat::RegCloseKey(key);
    for (auto _ : state) {
        plat::DWORD v = 0;
        plat::RegOpenKey(plat::kHKeyUsers, SettingKey(), plat::kKeyAllAccess, &key);
        plat::RegGetDword(key, L"autoupdate", &v);
        plat::RegCloseKey(key);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_RegistryOpenReadClose);

void BM_RegistryWrite(benchmark::State& state) {
    OpenBenchMachine();
    plat::HKEY key = 0;
    plat::RegCreateKey(plat::kHKeyUsers, SettingKey(), 0, plat::kKeyAllAccess, &key);
    plat::DWORD i = 0;
    for (auto _ : state) plat::RegSetDword(key, L"counter", i++);
    plat::RegCloseKey(key);
}
BENCHMARK(BM_RegistryWrite);

void BM_WindowAtPointFourCorners(benchmark::State& state) {
    OpenBenchMachine();
    for (int i = 0; i < 20; ++i) plat::CreateTopWindow({0, L"Bench", L"", true, {i * 10, i * 10, i * 10 + 300, i * 10 + 200}, 0});
    for (auto _ : state) {
        benchmark::DoNotOptimize(plat::WindowAtPoint(10, 10));
        benchmark::DoNotOptimize(plat::WindowAtPoint(10, 1070));
        benchmark::DoNotOptimize(plat::WindowAtPoint(1910, 10));
        benchmark::DoNotOptimize(plat::WindowAtPoint(1910, 1070));
    }
}
BENCHMARK(BM_WindowAtPointFourCorners);

// Set an event on one thread, the waiter on another wakes and answers: one round trip.
void BM_ClockEventPingPong(benchmark::State& state) {
    plat::CEvent ping, pong, stop;
    std::thread peer([&] {
        while (plat::CClock::Get().Wait({&ping, &stop}, plat::CClock::kInfinite) == plat::WaitResult::Signaled &&
               !stop.IsSet()) {
            ping.Reset();
            pong.Set();
        }
    });
    for (auto _ : state) {
        ping.Set();
        plat::CClock::Get().Wait({&pong}, plat::CClock::kInfinite);
        pong.Reset();
    }
    stop.Set();
    peer.join();
}
BENCHMARK(BM_ClockEventPingPong)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
