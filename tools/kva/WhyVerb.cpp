// kva why <package id> [--json]: every decision about one package, oldest first, in plain words.
#include <algorithm>
#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "DemoPackages.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "PackageStory.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "Util/DriverInfoListMgr.h"
#include "Util/KVASoftShelf.h"
#include "Verbs.h"
#include "driver_update/PackageTablesView.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace {

using nlohmann::json;

json ReadJsonFile(const std::string& windowsPath) {
    std::ifstream in(plat::ToHostPath(windowsPath));
    if (!in) return nullptr;
    json doc = json::parse(in, nullptr, false);
    return doc.is_discarded() ? json(nullptr) : doc;
}

// What the machine knows of the package right now.
struct CFacts {
    std::string id, name, next, table, state;
    json catalogueEntry;  // null when the accepted catalogue does not list it
    std::uint64_t catalogueVersion = 0;
    std::string installedNow;
    std::vector<finished_update_package> history;
};

CFacts Gather(const std::string& id) {
    CFacts f;
    f.id = id;
    f.catalogueVersion = GetAcceptedCatalogueVersion();
    const json catalogue = ReadJsonFile(GetAppDataFolder() + "\\DriverUpgrade\\Catalogue\\accepted.json");
    if (catalogue.is_object()) {
        for (const auto& p : catalogue.value("packages", json::array())) {
            if (p.is_object() && p.value("strDriverID", "") == id) f.catalogueEntry = p;
        }
    }
    if (f.catalogueEntry.is_object()) {
        f.name = f.catalogueEntry.value("strDriverName", "");
        f.next = f.catalogueEntry.value("versionInfo", json::object()).value("strNextVersion", "");
    }
    const json view = ReadJsonFile(GetAppDataFolder() + driver_update::kPackageTablesFile);
    if (view.is_object()) {
        for (const char* table : {"forced", "idle"}) {
            const json t = view.value(table, json::object());
            if (!t.contains(id)) continue;
            f.table = table;
            f.state = kva::PackageStateName(t[id].value("state", 0));
            if (f.name.empty()) f.name = t[id].value("name", "");
            if (f.next.empty()) f.next = t[id].value("next", "");
        }
        for (const auto& n : view.value("notice", json::array())) {
            if (f.table.empty() && n.value("id", "") == id) f.table = "notice", f.state = "offered";
        }
    }
    f.installedNow = GetInstalledVersion(id);
    for (auto& row : DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems(100000)) {
        if (row.strDriverID == id) f.history.push_back(row);
    }
    std::reverse(f.history.begin(), f.history.end());  // oldest first
    return f;
}

bool Known(const CFacts& f) {
    return f.catalogueEntry.is_object() || !f.table.empty() || !f.history.empty() || !f.installedNow.empty();
}

bool UserSwitch(const wchar_t* name) {
    plat::DWORD v = 0;
    return DE::Registry::GetValue(plat::kHKeyUsers,
                                  VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting", name, v) &&
           v == 1;
}

// Why the check sorted it as it did, from the catalogue's policy, the configuration and the switches.
std::string SortingReason(const CFacts& f) {
    if (!f.catalogueEntry.is_object()) return "";
    const json policy = f.catalogueEntry.value("policy", json::object());
    if (policy.value("updateType", 0) == 2) {
        auto& cfg = CCommonCfgMgr::getInstance();
        return std::string("forced: the catalogue marks it forced (update type 2); forced updates are ") +
               (cfg.EnableForceUpdate() ? "allowed" : "not allowed") + " by the configuration and " +
               (UserSwitch(L"forceupdate") ? "on" : "off") + " in the user's settings";
    }
    const bool msgPop = CKVASoftShelf::GetInstance()->IsSupportPlugin("MsgPop") == 1;
    const bool idleSwitch = UserSwitch(L"checkupdate");
    const bool idleCapable = CCommonCfgMgr::getInstance().IsSupportIdleUpdate(f.name) ||
                             (f.id == "23" && policy.value("idleAllowed", false));
    if (!msgPop) return "left alone: this edition has no \"MsgPop\" plug-in, so no notice and no idle update";
    if (!idleSwitch) return "offered in a notice: the user's idle-update switch is off";
    if (!idleCapable) return "offered in a notice: the configuration does not name it for idle updates";
    return "idle update: the user's idle-update switch is on and the configuration names it for idle updates";
}

std::string RestartText(const CFacts& f) {
    const json policy = f.catalogueEntry.is_object() ? f.catalogueEntry.value("policy", json::object()) : json::object();
    if (f.id == "23") return "level 3 (the BIOS always asks for a restart)";
    if (policy.value("restartLevel2", false)) return "level 2 (a full shutdown)";
    if (policy.value("restartLevel1", false)) return "level 1 (a restart)";
    return "none";
}

std::vector<kva::CLogLine> ReadLogs() {
    std::vector<kva::CLogLine> lines;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(plat::StateFolder() / "logs", ec)) {
        if (e.path().extension() != ".log") continue;
        std::ifstream in(e.path());
        for (std::string raw; std::getline(in, raw);) {
            kva::CLogLine line = kva::ParseLogLine(raw);
            if (!line.time.empty()) lines.push_back(std::move(line));
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
    return lines;
}

std::vector<kva::CPackageStory::CDependency> Dependencies(const std::string& id) {
    std::vector<kva::CPackageStory::CDependency> out;
    for (const auto& dep : CDriverInfoListMgr::getInstance().getDrvDepend(id)) {
        bool installed = false;
        for (const auto& row : DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems(100000))
            installed = installed || row.strDriverID == dep;
        out.push_back({dep, installed});
    }
    return out;
}

std::string StoryText(const kva::CStoryLine& l) {
    return l.text + (l.times > 1 ? " (" + std::to_string(l.times) + " times, last at " + l.lastTime + ")" : "");
}

void Print(const CFacts& f, const std::vector<kva::CStoryLine>& story) {
    std::cout << "package " << f.id << (f.name.empty() ? "" : " — " + f.name) << "\n";
    if (f.catalogueEntry.is_object())
        std::cout << "  offered   " << f.next << " by catalogue version " << f.catalogueVersion << "\n";
    else
        std::cout << "  offered   not by the catalogue in use (version " << f.catalogueVersion << ")\n";
    std::string before = f.history.empty() ? f.installedNow : f.history.front().strCurVersion;
    std::cout << "  before    " << (before.empty() ? "nothing installed" : before + " installed") << "\n";
    if (const std::string why = SortingReason(f); !why.empty()) std::cout << "  sorted    " << why << "\n";
    std::cout << "  restart   " << RestartText(f) << "\n";
    std::cout << "  now       "
              << (f.table.empty() ? "in no table of the service"
                  : f.table == "notice" ? "offered in the driver notice"
                                        : f.table + " table, " + f.state)
              << (f.installedNow.empty() ? "" : "; the machine has " + f.installedNow) << "\n\n";
    for (const auto& l : story) std::cout << "  " << l.time << "  " << StoryText(l) << "\n";
    for (const auto& h : f.history)
        std::cout << "  history   " << (h.strCurVersion.empty() ? "nothing" : h.strCurVersion) << " -> " << h.strNextVersion
                  << " (" << h.FileSize << " bytes)\n";
}

json AsJson(const CFacts& f, const std::vector<kva::CStoryLine>& story) {
    json lines = json::array();
    for (const auto& l : story) lines.push_back({{"time", l.time}, {"text", StoryText(l)}});
    json history = json::array();
    for (const auto& h : f.history) history.push_back({{"from", h.strCurVersion}, {"to", h.strNextVersion}});
    return {{"id", f.id},           {"name", f.name},         {"next", f.next},
            {"catalogueVersion", f.catalogueVersion},         {"offered", f.catalogueEntry.is_object()},
            {"sorted", SortingReason(f)},                     {"restart", RestartText(f)},
            {"table", f.table},     {"state", f.state},       {"installed", f.installedNow},
            {"story", lines},       {"history", history}};
}

}  // namespace

KVA_VERB(why) {
    auto* cmd = app.add_subcommand("why", "Why a package was or was not installed, in plain words");
    auto id = std::make_shared<std::string>();
    auto asJson = std::make_shared<bool>(false);
    cmd->add_option("id", *id, "The package id, e.g. 14")->required();
    cmd->add_flag("--json", *asJson, "One JSON document, for scripts");
    cmd->footer("Example:\n  kva why 14\n  kva --state /tmp/m why 23 --json\n");
    cmd->callback([&globals, id, asJson] {
        if (id->empty() || id->size() > 9 || !std::all_of(id->begin(), id->end(), ::isdigit)) {
            std::cerr << "kva why: \"" << *id << "\" is not a package id (a number such as 14)\n";
            throw CLI::RuntimeError(2);
        }
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        const CFacts facts = Gather(*id);
        if (!Known(facts)) {
            std::cerr << "kva why: package " << *id
                      << " is unknown here: not in the catalogue in use, the service's tables, the inventory or the history\n";
            throw CLI::RuntimeError(1);
        }
        kva::CPackageStory story(facts.id, facts.name, Dependencies(facts.id));
        story.ReadLog(ReadLogs());
        story.ReadEvents(CBIDataReport::GetInstance()->Events());
        if (*asJson) std::cout << AsJson(facts, story.Lines()).dump(1) << "\n";
        else Print(facts, story.Lines());
    });
}
