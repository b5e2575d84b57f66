// kva history: the update history of the machine, newest first.
#include <iomanip>
#include <iostream>

#include <nlohmann/json.hpp>

#include "KVADownload/DriverMgmtDBHelper.h"
#include "Verbs.h"

KVA_VERB(history) {
    auto* history = app.add_subcommand("history", "List the update history");
    auto limit = std::make_shared<int>(50);
    auto json = std::make_shared<bool>(false);
    history->add_option("--limit", *limit, "Rows to show")->check(CLI::Range(1, 100000));
    history->add_flag("--json", *json, "A JSON array of the rows, for scripts");
    history->footer("Example:\n  kva history --limit 10\n  kva history --json\n");
    history->callback([&globals, limit, json] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        const auto rows = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems(*limit);
        if (*json) {
            nlohmann::json out = nlohmann::json::array();
            for (const auto& r : rows) {
                out.push_back({{"id", r.strDriverID}, {"from", r.strCurVersion}, {"to", r.strNextVersion},
                               {"size", r.FileSize}, {"dayStart", r.dayStart}});
            }
            std::cout << out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
            return;
        }
        if (rows.empty()) {
            std::cout << "no updates recorded\n";
            return;
        }
        std::cout << std::left << std::setw(8) << "id" << std::setw(20) << "from" << std::setw(20) << "to"
                  << std::setw(14) << "size" << "day\n";
        for (const auto& r : rows) {
            std::time_t day = static_cast<std::time_t>(r.dayStart);
            std::tm tm{};
            gmtime_r(&day, &tm);
            char text[16];
            std::strftime(text, sizeof(text), "%Y-%m-%d", &tm);
            std::cout << std::setw(8) << r.strDriverID << std::setw(20) << (r.strCurVersion.empty() ? "-" : r.strCurVersion)
                      << std::setw(20) << r.strNextVersion << std::setw(14) << r.FileSize << text << "\n";
        }
    });
}
