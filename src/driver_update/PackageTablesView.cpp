#include "driver_update/PackageTablesView.h"

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "KVADownload/Folders.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"
#include "service/KVAServerQuery.h"

namespace driver_update {

namespace {

nlohmann::json TableJson(const PackageTableCopy& table) {
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [id, e] : table) {
        out[id] = {{"name", e.strDriverName},   {"next", e.strNextVersion},
                   {"size", e.FileSize},         {"state", static_cast<int>(e.state)},
                   {"installFile", e.strInstallFile}, {"downloadedThisRun", e.downloadedThisRun}};
    }
    return out;
}

}  // namespace

std::string PackageTablesJson(const PackageTableCopy& forced, const PackageTableCopy& idle,
                              const std::vector<_TOBEUPDATE_DRIVER_INFO>& notice, const CServiceFlagsView& flags) {
    nlohmann::json ids = nlohmann::json::array();
    for (const auto& r : notice) {
        ids.push_back({{"id", r.strDriverID}, {"name", r.strDriverName}, {"next", r.versionInfo.strNextVersion}});
    }
    const nlohmann::json service = {{"freeScene", flags.freeScene},
                                     {"manualUpdateRunning", flags.manualUpdateRunning},
                                     {"synergyBusy", flags.synergyBusy},
                                     {"appSetupRunning", flags.appSetupRunning},
                                     {"writtenAt", flags.writtenAt}};
    const nlohmann::json doc = {
        {"forced", TableJson(forced)}, {"idle", TableJson(idle)}, {"notice", ids}, {"service", service}};
    return doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool WritePackageTablesFile(const std::string& json) {
    const auto file = plat::ToHostPath(GetAppDataFolder() + kPackageTablesFile);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    auto temp = file;
    temp += ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << json;
        if (!out) return false;
    }
    std::filesystem::rename(temp, file, ec);
    return !ec;
}

}  // namespace driver_update

void CKVAServerQuery::PublishPackageTables() {
    // One writer at a time, and the copy taken inside, so an older view never replaces a newer one.
    std::lock_guard publishing(m_mtxTablesView);
    driver_update::CServiceFlagsView flags;
    flags.freeScene = m_IsFreeScene;
    flags.manualUpdateRunning = !m_bSourceComplete[0] || !m_bSourceComplete[1] || !m_bSource2Complete;
    flags.synergyBusy = m_bSynergyInUse;
    flags.appSetupRunning = m_bAppSetupRunning;
    flags.writtenAt = plat::CClock::Get().WallMs() / 1000;
    std::string json;
    {
        std::lock_guard lock(m_mtxTables);
        json = driver_update::PackageTablesJson(m_mapForceDriver, m_mapIdleDriver, m_vecPopupDriver, flags);
    }
    if (!driver_update::WritePackageTablesFile(json)) KVA_LOG_ERROR("cannot write the package tables view");
}
