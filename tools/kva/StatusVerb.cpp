// kva status [-f] [--json]: what the running service holds: its package tables, its flags in
// words, the last and next check and the catalogue version in use. Read from the tables view the
// service writes after every change, the check times it keeps and the machine's registry.
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>

#include <nlohmann/json.hpp>

#include "DemoPackages.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Verbs.h"
#include "driver_update/PackageTablesView.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace {

using nlohmann::json;

std::string TimeText(std::int64_t seconds) {
    if (seconds <= 0) return "never";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::ostringstream s;
    s << std::put_time(&tm, "%Y-%m-%d %H:%M:%S");
    return s.str();
}

// The whole status as one document; null when the service has not written its view yet.
json Collect() {
    std::ifstream in(plat::ToHostPath(GetAppDataFolder() + driver_update::kPackageTablesFile));
    if (!in) return nullptr;
    json view = json::parse(in, nullptr, false);
    if (!view.is_object()) return nullptr;
    json status = {{"tables", json::object()}, {"notice", view.value("notice", json::array())},
                   {"service", view.value("service", json::object())}};
    for (const char* table : {"forced", "idle"}) status["tables"][table] = view.value(table, json::object());
    std::int64_t last = 0;
    CLastCheckTimeMgr().GetDriverCheckTime(last);
    const int period = CCommonCfgMgr::getInstance().getQueryLocalPeriod();
    status["lastCheck"] = last;
    status["nextCheck"] = last > 0 ? last + std::int64_t{period} * 60 : 0;
    status["periodMinutes"] = period;
    status["catalogueVersion"] = GetAcceptedCatalogueVersion();
    return status;
}

const char* YesNo(const json& service, const char* key, bool byDefault) {
    return service.value(key, byDefault) ? "yes" : "no";
}

void Print(const json& s, std::ostream& out) {
    const json& svc = s["service"];
    out << "view written  " << TimeText(svc.value("writtenAt", std::int64_t{0})) << "\n"
        << "free scene    " << YesNo(svc, "freeScene", true) << "   manual update running  "
        << YesNo(svc, "manualUpdateRunning", false) << "   synergy busy  " << YesNo(svc, "synergyBusy", false)
        << "   application setup running  " << YesNo(svc, "appSetupRunning", false) << "\n"
        << "last check    " << TimeText(s["lastCheck"].get<std::int64_t>()) << "\n"
        << "next check    " << (s["nextCheck"].get<std::int64_t>() > 0 ? "about " + TimeText(s["nextCheck"]) : "after the first")
        << " (every " << s["periodMinutes"].get<int>() << " min)\n"
        << "catalogue     " << (s["catalogueVersion"].get<std::uint64_t>() ? "version " + std::to_string(s["catalogueVersion"].get<std::uint64_t>()) : "none accepted yet") << "\n\n";
    out << std::left << std::setw(6) << "id" << std::setw(30) << "name" << std::setw(8) << "table" << std::setw(17)
        << "state" << "file\n";
    for (const char* table : {"forced", "idle"}) {
        for (const auto& [id, e] : s["tables"][table].items()) {
            const std::string file = e.value("installFile", "");
            out << std::setw(6) << id << std::setw(30) << e.value("name", "").substr(0, 29) << std::setw(8) << table
                << std::setw(17) << kva::PackageStateName(e.value("state", 0)) << (file.empty() ? "-" : file) << "\n";
        }
    }
    for (const auto& e : s["notice"]) {
        out << std::setw(6) << e.value("id", "") << std::setw(30) << e.value("name", "").substr(0, 29) << std::setw(8)
            << "notice" << std::setw(17) << "offered" << "-\n";
    }
}

}  // namespace

KVA_VERB(status) {
    auto* cmd = app.add_subcommand("status", "What the running service holds: packages, flags, checks");
    auto follow = std::make_shared<bool>(false);
    auto asJson = std::make_shared<bool>(false);
    cmd->add_flag("-f,--follow", *follow, "Print again whenever it changes, until interrupted");
    cmd->add_flag("--json", *asJson, "One JSON document (one a line with -f), for scripts");
    cmd->footer("Example:\n  kva status\n  kva --state /tmp/m status -f\n");
    cmd->callback([&globals, follow, asJson] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        json shown;
        do {
            json now = Collect();
            if (now.is_null() && !*follow) {
                std::cerr << "kva status: no service has written its tables in " << plat::StateFolder().string()
                          << " yet; start one with `kva host` (or `kva demo`)\n";
                throw CLI::RuntimeError(1);
            }
            if (now != shown && !now.is_null()) {
                if (*asJson) std::cout << now.dump(*follow ? -1 : 1) << "\n";
                else Print(now, std::cout);
                if (*follow && !*asJson) std::cout << "\n";
                std::cout.flush();
                shown = std::move(now);
            }
        } while (*follow && plat::CClock::Get().Sleep(1000));
    });
}
