// The install thread: one pass every 120 s for the life of the service, forced packages before
// idle ones, each table in byte order of its keys, one package at a time.
#include "install/DataEvents.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {
constexpr std::uint32_t kPassPauseMs = 120000;
}  // namespace

void CKVAServerQuery::StartInstallThread() {
    std::call_once(m_onceInstall, [this] { m_threadInstall = std::thread(plat::CClock::Get().Tracked([this] { InstallDriverInOrder(); })); });
}

void CKVAServerQuery::InstallDriverInOrder() {
    KVA_LOG_WARN("InstallDriverInOrder start");
    while (!m_bStop) {
        WalkInstallTable(DRIVER_UPDATE_FORCE);
        WalkInstallTable(DRIVER_UPDATE_IDLE);
        ++m_nInstallPasses;
        if (!plat::Sleep(kPassPauseMs, &m_evStop)) break;
    }
}

// Works on a copy of each entry; the next one is looked up after the key just done, so an entry
// removed meanwhile (the forced gate empties its table) is never touched and the pass just ends.
void CKVAServerQuery::WalkInstallTable(_DRIVER_UPDATE_TYPE type) {
    std::string key;
    bool first = true;
    for (;;) {
        if (m_bStop) return;
        enmUPGRADE_DRIVER_INFO entry;
        {
            std::lock_guard lock(m_mtxTables);
            const PackageTable& table = type == DRIVER_UPDATE_FORCE ? m_mapForceDriver : m_mapIdleDriver;
            auto it = first ? table.begin() : table.upper_bound(key);
            if (it == table.end()) return;
            key = it->first;
            entry = it->second;
        }
        first = false;
        if (entry.strInstallFile.empty()) {
            KVA_LOG_WARN("DriverExepath empty," << entry.strDriverName);
            continue;
        }
        if (entry.state != PACKAGE_DOWNLOADED) continue;
        while (IsDriverInstalling()) {
            KVA_LOG_WARN("DriverInstalling," << entry.strDriverName);
            if (!plat::Sleep(kPassPauseMs, &m_evStop)) return;
        }
        if (CheckDepend(key)) {
            KVA_LOG_WARN("CheckDepend," << entry.strDriverName);
            ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_DEPENDENCY, type, UpdaterManager::UPDATER_TRACK_INSTALL,
                                    entry.strDriverName);
        } else if (CheckWLAN(key)) {
            KVA_LOG_WARN("CheckWLAN," << entry.strDriverName);
        } else {
            IdleInstall(entry.strInstallFile, key, entry.strDriverName, entry.strNextVersionID, entry.strNextVersion, type);
        }
    }
}

bool CKVAServerQuery::IsDriverInstalling() {
    std::lock_guard lock(m_mtxTables);
    for (const PackageTable* table : {&m_mapForceDriver, &m_mapIdleDriver}) {
        for (const auto& [id, entry] : *table) {
            if (entry.state == PACKAGE_INSTALLING) return true;
        }
    }
    return false;
}
