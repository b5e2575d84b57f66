// Gates that every automatic download and install asks: disk space, battery, dependencies, network
// drivers waiting for other downloads, and a manual update in progress. They change nothing but
// the error code they hand back.
#include "KVADownload/Folders.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DriverInfoListMgr.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Log.h"
#include "kva/platform/Power.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr std::uint64_t kReserveFactor = 3;  // unpacked package and installer beside the download
constexpr int kLowBatteryPercent = 10;
constexpr int kDefaultBatteryPercent = 30;

bool IsNetworkDriver(const std::string& id) { return id == kDriverTypeWlan || id == kDriverTypeNetwork; }

}  // namespace

bool CKVAServerQuery::IsBatterySpaceOK(std::vector<_TOBEUPDATE_DRIVER_INFO> list, _DRIVER_UPDATE_TYPE type) {
    std::uint64_t total = 0;
    for (const auto& r : list) total += r.versionInfo.FileSize;
    const std::uint64_t reserve = kReserveFactor * total;
    if (IsMachineFreeSpaceOK(reserve)) return true;
    KVA_LOG_ERROR("space not ok, need reserveSize " << reserve);
    ReportEvent(evt::kSpaceShort, std::to_string(type), 12, 2);
    return false;
}

bool CKVAServerQuery::IsMachineFreeSpaceOK(std::uint64_t reserveBytes) {
    const std::string folder = GetAppDataFolder();
    if (folder.empty()) return true;
    std::uint64_t available = 0;
    if (!plat::GetDiskFreeSpace(folder, &available)) {
        KVA_LOG_ERROR("Failed to get the free disk space, errcode is " << plat::GetLastError());
        return true;
    }
    if (reserveBytes < available) return true;
    KVA_LOG_WARN("IsMachineFreeSpaceOK reserveSize = " << reserveBytes << " QuadPart = " << available);
    return false;
}

bool CKVAServerQuery::IsMachineBatteryOk(bool lowThreshold) {
    plat::PowerStatus status;
    if (!plat::GetPowerStatus(&status)) {
        KVA_LOG_ERROR("IsMachineBatteryOk Get Power Status failed and errorCode is :" << plat::GetLastError());
        return false;
    }
    int threshold = kLowBatteryPercent;
    if (!lowThreshold) {
        const int configured = CCommonCfgMgr::getInstance().getBatteryPrecent();
        threshold = configured < 1 ? kDefaultBatteryPercent : configured;
    }
    // No battery reads 255 and passes: a desktop on mains power.
    if (status.BatteryLifePercent >= threshold) return true;
    KVA_LOG_ERROR("IsMachineBatteryOk sys_percent = " << int(status.BatteryLifePercent)
                                                      << " config_percent = " << threshold);
    return false;
}

bool CKVAServerQuery::CheckDepend(const std::string& driverId) {
    const auto depends = CDriverInfoListMgr::getInstance().getDrvDepend(driverId);
    std::lock_guard lock(m_mtxTables);
    for (const auto& dep : depends) {
        auto it = m_mapIdleDriver.find(dep);
        if (it != m_mapIdleDriver.end() && it->second.state != PACKAGE_INSTALLED) return true;
    }
    return false;
}

bool CKVAServerQuery::CheckWLAN(const std::string& driverId) {
    if (!IsNetworkDriver(driverId)) return false;
    std::lock_guard lock(m_mtxTables);
    for (const auto* table : {&m_mapIdleDriver, &m_mapForceDriver}) {
        for (const auto& [id, entry] : *table) {
            if (entry.state < PACKAGE_DOWNLOAD_CANCELLED) return true;
        }
    }
    return false;
}

bool CKVAServerQuery::CheckManualState(UpdaterManager::enmUPDATER_ERROR_TYPE& error) {
    error = UpdaterManager::UPDATER_ERROR_NONE;
    if (IsSynergyInUse()) {
        error = UpdaterManager::UPDATER_ERROR_SYNERGY_IN_USE;
        KVA_LOG_ERROR("synergy is in use ");
        return false;
    }
    if (IsWndExists(false)) {
        error = UpdaterManager::UPDATER_ERROR_APP_WINDOW_OPEN;
        KVA_LOG_ERROR("wnd exist");
        return false;
    }
    if (m_bSourceComplete[0] && m_bSourceComplete[1] && m_bSource2Complete && !IsSelfUpgrade()) return true;
    error = UpdaterManager::UPDATER_ERROR_MANUAL_UNFINISHED;
    return false;
}
