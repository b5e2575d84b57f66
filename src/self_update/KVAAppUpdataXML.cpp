#include "self_update/KVAAppUpdataXML.h"

#include "kva/platform/Log.h"

KVAAppUpdataXML* KVAAppUpdataXML::GetInstance() {
    static KVAAppUpdataXML instance;
    return &instance;
}

void KVAAppUpdataXML::SetDriverList(std::vector<_TOBEUPDATE_DRIVER_INFO> drivers) {
    std::lock_guard lock(m_mtx);
    m_drivers = std::move(drivers);
}

std::vector<_TOBEUPDATE_DRIVER_INFO> KVAAppUpdataXML::DriverList() {
    std::lock_guard lock(m_mtx);
    return m_drivers;
}

bool KVAAppUpdataXML::GetDriverItem() {
    std::lock_guard lock(m_mtx);
    if (m_drivers.empty()) return false;
    ++m_noticesRequested;
    KVA_LOG_WARN("driver notice for " << m_drivers.size() << " package(s); the notice itself is not built yet");
    return true;
}

int KVAAppUpdataXML::NoticesRequested() {
    std::lock_guard lock(m_mtx);
    return m_noticesRequested;
}
