#include "install/SerialWorker.h"

#include "kva/platform/Log.h"

bool CSerialWorker::Post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mtx);
        if (m_stopped || m_tasks.size() >= m_maxQueued) return false;
        m_tasks.push_back(std::move(task));
        if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    }
    m_cv.notify_one();
    return true;
}

void CSerialWorker::Stop() {
    std::thread thread;
    {
        std::lock_guard lock(m_mtx);
        m_stopped = true;
        m_tasks.clear();
        thread = std::move(m_thread);
    }
    m_cv.notify_one();
    if (thread.joinable()) thread.join();
}

void CSerialWorker::Run() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mtx);
            m_cv.wait(lock, [this] { return m_stopped || !m_tasks.empty(); });
            if (m_stopped) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        try {
            task();
        } catch (const std::exception& e) {
            KVA_LOG_ERROR("queued task failed: " << e.what());
        }
    }
}
