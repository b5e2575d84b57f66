// kva events [--id N] [--follow]: the data events every process of the suite reported.
#include <ctime>
#include <iomanip>
#include <iostream>

#include <nlohmann/json.hpp>

#include "DataReport/BIDataReport.h"
#include "Verbs.h"
#include "kva/platform/Clock.h"

namespace {

void Print(const DataEventRecord& e) {
    const std::time_t t = static_cast<std::time_t>(e.wallMs / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::cout << std::put_time(&tm, "%Y-%m-%d %H:%M:%S") << "  " << e.eventId;
    if (e.eventId >= 601000000 && e.eventId < 601010000) std::cout << " (" << e.eventId - 601000000 << ")";
    std::cout << "  [";
    for (std::size_t i = 0; i < e.values.size(); ++i) std::cout << (i ? ", " : "") << '"' << e.values[i] << '"';
    std::cout << "]  pid " << e.pid << "\n";
}

// One JSON object a line, so `--follow --json` streams to a script.
void PrintJson(const DataEventRecord& e) {
    nlohmann::json line = {{"seq", e.seq}, {"timeMs", e.wallMs}, {"eventId", e.eventId}, {"values", e.values},
                           {"pid", e.pid}};
    if (e.eventId >= 601000000 && e.eventId < 601010000) line["number"] = e.eventId - 601000000;
    std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

}  // namespace

KVA_VERB(events) {
    auto* cmd = app.add_subcommand("events", "List the data events of the suite, oldest first");
    auto id = std::make_shared<long long>(0);
    auto follow = std::make_shared<bool>(false);
    auto json = std::make_shared<bool>(false);
    cmd->add_option("--id", *id, "Only this event: the full id (601003001) or the short number (3001)");
    cmd->add_flag("-f,--follow", *follow, "Keep printing new events until interrupted");
    cmd->add_flag("--json", *json, "One JSON object a line, for scripts");
    cmd->footer("Example:\n  kva events --id 2006\n  kva events -f --json\n");
    cmd->callback([&globals, id, follow, json] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        std::optional<std::int64_t> filter;
        if (*id > 0) filter = *id < 10000 ? 601000000 + *id : *id;
        std::int64_t last = 0;
        do {
            for (const auto& e : CBIDataReport::GetInstance()->Events(filter, last)) {
                *json ? PrintJson(e) : Print(e);
                last = e.seq;
            }
            std::cout.flush();
        } while (*follow && plat::CClock::Get().Sleep(500));
    });
}
