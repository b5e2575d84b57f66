// kva: the one command-line program of the project. See `kva --help`.
#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "Verbs.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"

namespace kva {

std::vector<std::pair<std::string, VerbSetup>>& CVerbRegistry::All() {
    static std::vector<std::pair<std::string, VerbSetup>> verbs;
    return verbs;
}

bool PrepareMachine(const CGlobals& globals) {
    std::filesystem::path folder = globals.stateFolder;
    if (folder.empty()) {
        const char* env = std::getenv("KVA_STATE");
        folder = env && *env ? std::filesystem::path(env) : plat::DefaultStateFolder();
    }
    if (!plat::OpenMachine(folder)) {
        std::cerr << "kva: cannot open the machine in " << folder
                  << ": it is not a folder this user can write, or holds a broken machine.db; give --state another folder\n";
        return false;
    }
    // Child processes (the host's library, the suite's peers) find the same machine.
    setenv("KVA_STATE", std::filesystem::absolute(folder).c_str(), 1);
    plat::ConfigureLogging(folder, globals.verbose);
    if (globals.timeScale != 1.0) plat::CClock::Get().UseScaled(globals.timeScale);
    return true;
}

}  // namespace kva

int main(int argc, char** argv) {
    CLI::App app{"kva: the KVAUpdaterCheck host, suite, update service and simulated machine"};
    app.require_subcommand(1);
    // Global options may come before or after the verb: `kva history --state /tmp/m`.
    app.fallthrough();
    app.footer("Example:\n  kva demo\n  kva --state /tmp/m status\n  kva why 14\nEvery verb has its own --help.\n");
    kva::CGlobals globals;
    app.add_option("--state", globals.stateFolder, "State folder of the simulated machine")
        ->envname("KVA_STATE");
    app.add_option("--time-scale", globals.timeScale, "Run service time this many times faster")
        ->check(CLI::PositiveNumber);
    app.add_flag("-v,--verbose", globals.verbose, "Show log lines on the console");
    auto verbs = kva::CVerbRegistry::All();
    std::sort(verbs.begin(), verbs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [name, setup] : verbs) setup(app, globals);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::cerr << "kva: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
