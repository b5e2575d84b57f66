// kva host: the PC-management host service. Loads libKVAUpdaterCheck from its own folder, calls
// StartKVAServerQuery, runs until SIGINT or SIGTERM, then unloads the library.
// --cycles N loads, starts and unloads it N times and reports how long each step took.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "Util/CommonCfgMgr.h"
#include "Verbs.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Module.h"
#include "kva/platform/Process.h"
#include "kva/platform/Text.h"

namespace {

// Set when a stop signal arrives; every wait of the host ends on it.
plat::CEvent g_quit;

using StartFn = bool (*)();
using Clock = std::chrono::steady_clock;

std::wstring LibraryPath() {
    const std::wstring exe = plat::HostExecutablePath();
    return exe.substr(0, exe.rfind(L'/')) + L"/libKVAUpdaterCheck.so";
}

struct CycleTimes {
    double startMs = 0, unloadMs = 0;
};

bool RunOnce(bool waitForSignal, std::uint32_t holdMs, CycleTimes* times) {
    plat::HMODULE lib = plat::LoadModule(LibraryPath());
    if (!lib) {
        std::cerr << "kva host: cannot load " << plat::ToUtf8(LibraryPath()) << "\n";
        return false;
    }
    auto start = reinterpret_cast<StartFn>(plat::GetModuleExport(lib, "StartKVAServerQuery"));
    if (!start) {
        std::cerr << "kva host: the library has no StartKVAServerQuery\n";
        plat::FreeModule(lib);
        return false;
    }
    auto t0 = Clock::now();
    const bool started = start();
    times->startMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (!started) std::cerr << "kva host: StartKVAServerQuery returned false\n";
    if (waitForSignal) {
        plat::WaitForStopSignal();
        g_quit.Set();
    } else if (holdMs) {
        plat::CClock::Get().Wait({&g_quit}, holdMs);
    }
    t0 = Clock::now();
    plat::FreeModule(lib);
    times->unloadMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    return started;
}

// SIGINT and SIGTERM are taken with sigwait, so no handler runs in signal context: by the main
// thread when it only waits for them, else by a thread of their own.
void BlockSignalsAndWatch(bool mainThreadWaits) {
    plat::CatchStopSignals();
    if (mainThreadWaits) return;
    std::thread([] {
        plat::WaitForStopSignal();
        g_quit.Set();
    }).detach();
}

}  // namespace

KVA_VERB(host) {
    auto* cmd = app.add_subcommand("host", "Run the host service: load the updater library and start it");
    cmd->footer("Example:\n  kva --state /tmp/m host\n  kva host --cycles 100 --hold-ms 10\n");
    auto cycles = std::make_shared<int>(0);
    auto holdMs = std::make_shared<std::uint32_t>(50);
    cmd->add_option("--cycles", *cycles, "Load, start and unload the library this many times, then exit")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--hold-ms", *holdMs, "With --cycles: how long each start runs before the unload");
    cmd->callback([&globals, cycles, holdMs] {
        BlockSignalsAndWatch(*cycles == 0);  // before logging starts a thread
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        // Without it the service would run and never check anything: say so instead.
        if (std::error_code ec; !std::filesystem::exists(CCommonCfgMgr::FilePath(), ec)) {
            std::cerr << "kva host: no configuration at " << CCommonCfgMgr::FilePath().string()
                      << "; make one with `kva catalogue make DIR --configure URL` (or run `kva demo`)\n";
            throw CLI::RuntimeError(1);
        }
        plat::AddProcess(L"PilotdeckService.exe");
        const bool forever = *cycles == 0;
        double maxStart = 0, maxUnload = 0, sumUnload = 0;
        int ok = 0;
        for (int i = 0; forever ? i < 1 : i < *cycles; ++i) {
            CycleTimes t;
            if (!RunOnce(forever, *holdMs, &t)) break;
            ++ok;
            maxStart = std::max(maxStart, t.startMs);
            maxUnload = std::max(maxUnload, t.unloadMs);
            sumUnload += t.unloadMs;
            if (g_quit.IsSet()) break;
        }
        plat::RemoveProcess(L"PilotdeckService.exe");
        std::cout << "kva host: " << ok << " start(s); start max " << maxStart << " ms; unload max " << maxUnload
                  << " ms, mean " << (ok ? sumUnload / ok : 0) << " ms\n";
        if (ok == 0 || (!forever && ok < *cycles && !g_quit.IsSet())) throw CLI::RuntimeError(1);
    });
}
