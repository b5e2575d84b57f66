// Copies of the coordination state, for tests and tools, and the threads of the state work.
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

void CKVAServerQuery::RunStateWork(std::function<void()> work) {
    std::lock_guard lock(m_mtxStateWork);
    if (m_bStateWorkStopped) return;
    // Threads that finished are joined at once; the others end with the service's stop event.
    std::erase_if(m_stateWork, [](auto& w) {
        if (!w.second->load()) return false;
        w.first.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_stateWork.emplace_back(std::thread([work = std::move(work), done] {
                                 work();
                                 *done = true;
                             }),
                             done);
}

void CKVAServerQuery::StopStateWork() {
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> work;
    {
        std::lock_guard lock(m_mtxStateWork);
        m_bStateWorkStopped = true;
        work.swap(m_stateWork);
    }
    for (auto& w : work) w.first.join();
}
