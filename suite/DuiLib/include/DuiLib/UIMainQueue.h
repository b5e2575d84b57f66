// The UI thread. Every window action of the suite runs here: other threads hand closures to
// dispatch(). Tasks run one at a time, in the order given; window timers fire here too.
//
// The thread runs only while a task is queued or a window timer is set: it starts with the first
// and ends when neither is left (IsUIThread is then false everywhere), so an idle process has no
// UI thread. It waits for timers through the platform clock, so they follow the fake clock in
// tests. Shutdown() runs what is queued, then stops the thread; the process-wide instance shuts
// down at unload. dispatch() after shutdown drops the task.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace DuiLib {

class WindowImplBase;

class UIMainQueue {
public:
    static UIMainQueue* getInstance();

    // False when the queue is shut down and the task was dropped.
    bool dispatch(std::function<void()> task);
    bool IsUIThread() const;
    // Blocks (real time, at most `timeout`) until the queue is empty and no task runs. For tests
    // and tools; never call it on the UI thread.
    bool WaitIdle(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    void Shutdown();

    // Window timers (SetTimer/KillTimer of the windows). Firing sends WM_TIMER to the window on
    // the UI thread; a timer due again before it ran fires once.
    void SetTimer(WindowImplBase* wnd, std::uint32_t id, std::uint32_t intervalMs);
    void KillTimer(WindowImplBase* wnd, std::uint32_t id);
    void KillTimers(WindowImplBase* wnd);

    struct Impl;
    ~UIMainQueue();

private:
    UIMainQueue();
    std::unique_ptr<Impl> m_impl;
};

}  // namespace DuiLib
