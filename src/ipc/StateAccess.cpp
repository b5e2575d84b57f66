// Copies of the coordination state, for tests and tools.
#include "service/KVAServerQuery.h"

std::vector<_IGNORED_DRIVER_INFO> CKVAServerQuery::ExtraDrivers() {
    std::lock_guard lock(m_mtxTables);
    return m_vecDriverExtra;
}

void CKVAServerQuery::SetPopupDrivers(std::vector<_TOBEUPDATE_DRIVER_INFO> drivers) {
    std::lock_guard lock(m_mtxTables);
    m_vecPopupDriver = std::move(drivers);
}

_TOBEUPDATE_DRIVER_INFO CKVAServerQuery::AppUpdateInfo() {
    std::lock_guard lock(m_mtxTables);
    return m_appUpdateInfo;
}
