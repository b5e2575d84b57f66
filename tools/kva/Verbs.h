// `kva <verb>`: each verb lives in its own file and registers itself here, so adding one touches
// no other file.
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kva {

// Options every verb shares, filled before the chosen verb runs.
struct CGlobals {
    std::string stateFolder;  // --state; empty means $KVA_STATE or the default folder
    double timeScale = 1.0;   // --time-scale
    bool verbose = false;     // -v: log lines on the console too
};

// Opens the machine of --state, configures logging and the clock. Verbs call it first.
bool PrepareMachine(const CGlobals& globals);

using VerbSetup = std::function<void(CLI::App& app, CGlobals& globals)>;

class CVerbRegistry {
public:
    static std::vector<std::pair<std::string, VerbSetup>>& All();
    struct Add {
        Add(std::string order, VerbSetup setup) { All().emplace_back(std::move(order), std::move(setup)); }
    };
};

}  // namespace kva

// KVA_VERB(machine) { app.add_subcommand(...) ... }
#define KVA_VERB(name)                                                                 \
    static void KvaVerbSetup_##name(CLI::App& app, ::kva::CGlobals& globals);          \
    static ::kva::CVerbRegistry::Add kvaVerbAdd_##name(#name, &KvaVerbSetup_##name);   \
    static void KvaVerbSetup_##name(CLI::App& app, ::kva::CGlobals& globals)
