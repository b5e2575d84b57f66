// Copies of the notice lists and direct table entries, for tests and tools.
#include "service/KVAServerQuery.h"

std::vector<_TOBEUPDATE_DRIVER_INFO> CKVAServerQuery::PopupDrivers() {
    std::lock_guard lock(m_mtxTables);
    return m_vecPopupDriver;
}

std::vector<_TOBEUPDATE_DRIVER_INFO> CKVAServerQuery::SkipDrivers() {
    std::lock_guard lock(m_mtxTables);
    return m_vecSkipDriver;
}

void CKVAServerQuery::SetTableEntry(_DRIVER_UPDATE_TYPE table, const std::string& id,
                                    const enmUPGRADE_DRIVER_INFO& entry) {
    std::lock_guard lock(m_mtxTables);
    (table == DRIVER_UPDATE_FORCE ? m_mapForceDriver : m_mapIdleDriver)[id] = entry;
}

void CKVAServerQuery::SetAppUpdateInfo(const _TOBEUPDATE_DRIVER_INFO& record) {
    std::lock_guard lock(m_mtxTables);
    m_appUpdateInfo = record;
    m_strAppNextVersion = record.versionInfo.strNextVersion;
}
