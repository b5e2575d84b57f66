// kva demo: the road of an update on a fresh simulated machine. For now it prepares the machine
// and shows its facts; the update road joins as the service is built.
#include <chrono>
#include <ctime>
#include <iostream>

#include "Verbs.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Power.h"

KVA_VERB(demo) {
    auto* demo = app.add_subcommand("demo", "Run the update road on a fresh simulated machine");
    demo->callback([&globals] {
        if (globals.stateFolder.empty()) {
            const auto stamp = std::to_string(std::time(nullptr));
            globals.stateFolder = (std::filesystem::temp_directory_path() / ("kva-demo-" + stamp)).string();
        }
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        std::cout << "kva demo: a fresh simulated machine in " << plat::StateFolder().string() << "\n";
        plat::PowerStatus ps;
        plat::GetPowerStatus(&ps);
        std::uint64_t freeBytes = 0;
        plat::GetDiskFreeSpace("C:\\", &freeBytes);
        std::cout << "  product " << plat::ProductName() << ", battery " << int(ps.BatteryLifePercent)
                  << ", ac " << int(ps.ACLineStatus) << ", " << freeBytes / 1048576 << " MiB free on C:\n"
                  << "The update service, the suite and the host join this demo as they are built;\n"
                  << "today it shows the machine they will run on. Inspect it with:\n"
                  << "  kva --state " << plat::StateFolder().string() << " machine show\n";
    });
}
