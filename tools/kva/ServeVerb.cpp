// kva serve <folder> [--port N] [--rate N] [--fault drop-after=N|stall|corrupt]: the update
// service on loopback.
#include <filesystem>
#include <iostream>

#include "ServeKit/UpdateServer.h"
#include "Verbs.h"
#include "kva/platform/Process.h"

namespace {

// One line a person can act on, for the reasons a server does not start.
std::string WhatToDo(const std::string& folder, int port, const std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        return "no folder " + folder + "; make one with `kva catalogue make " + folder + "`";
    if (error.find("in use") != std::string::npos)
        return "port " + std::to_string(port) + " is in use by another program; give another --port, or --port 0 for a free one";
    return error;
}

}  // namespace

KVA_VERB(serve) {
    auto* serve = app.add_subcommand("serve", "Serve an update-service folder over HTTP on 127.0.0.1");
    serve->footer("Example:\n  kva serve /tmp/svc --port 8731\n  kva serve /tmp/svc --rate 1M\n"
                  "  kva serve /tmp/svc --fault drop-after=100000\n");
    auto folder = std::make_shared<std::string>();
    auto port = std::make_shared<int>(0);
    auto fault = std::make_shared<std::string>();
    auto rate = std::make_shared<std::string>();
    serve->add_option("folder", *folder, "Folder made by `kva catalogue make`")->required();
    serve->add_option("--port", *port, "Port (0 picks a free one)")->check(CLI::Range(0, 65535));
    serve->add_option("--rate", *rate, "Send packages at most this fast per connection, bytes a second (K, M)");
    serve->add_option("--fault", *fault, "Fault for tests: drop-after=N, stall or corrupt");
    serve->callback([&globals, folder, port, fault, rate] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        ServeFault f;
        const std::string faults = *fault + (rate->empty() ? "" : (fault->empty() ? "rate=" : ",rate=") + *rate);
        if (!f.Parse(faults)) {
            std::cerr << "kva serve: \"" << faults << "\" is not a fault or rate; see `kva serve --help`\n";
            throw CLI::RuntimeError(2);
        }
        plat::CatchStopSignals();  // before the server's threads start
        CUpdateServer server;
        std::string error;
        if (!server.Start(*folder, static_cast<std::uint16_t>(*port), f, &error)) {
            std::cerr << "kva serve: " << WhatToDo(*folder, *port, error) << "\n";
            throw CLI::RuntimeError(1);
        }
        std::cout << "serving " << *folder << " on " << server.Url() << std::endl;
        plat::WaitForStopSignal();
        server.Stop();
        std::cout << "stopped after " << server.Requests() << " requests" << std::endl;
    });
}
