// One owned thread that runs posted tasks in order, so that an IPC handler whose work waits long
// (a manual install waits up to 20 minutes for the installer) hands it over and returns, and the
// endpoint goes on answering everything else. Tasks still queued when it stops are dropped; Stop
// (and the destructor) wait for the running one. Post from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CSerialWorker {
public:
    explicit CSerialWorker(std::size_t maxQueued) : m_maxQueued(maxQueued) {}
    CSerialWorker(const CSerialWorker&) = delete;
    CSerialWorker& operator=(const CSerialWorker&) = delete;
    ~CSerialWorker() { Stop(); }

    // False when stopped or when maxQueued tasks already wait.
    bool Post(std::function<void()> task);
    void Stop();

private:
    void Run();

    const std::size_t m_maxQueued;
    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;  // guarded by m_mtx
    bool m_stopped = false;                     // guarded by m_mtx
    std::thread m_thread;                       // started by the first Post, under m_mtx
};
