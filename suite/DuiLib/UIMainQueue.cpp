#include "DuiLib/UIMainQueue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "DuiLib/WindowImplBase.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"

namespace DuiLib {

struct UIMainQueue::Impl {
    struct Timer {
        WindowImplBase* wnd;
        std::uint32_t id;
        std::uint32_t interval;
        std::uint64_t due;
    };

    std::mutex mtx;
    std::condition_variable cv;  // idle and timer-firing changes
    std::deque<std::function<void()>> tasks;
    std::vector<Timer> timers;
    plat::CEvent wake;
    bool running = false;
    bool shut = false;
    bool looping = false;  // `thread` runs Loop and has not decided to leave it
    WindowImplBase* firing = nullptr;
    std::thread thread;
    std::atomic<std::thread::id> uiThread;  // none while no thread loops

    // The thread runs only while there is a task or a timer: idle, a process has no UI thread.
    void EnsureLooping();  // mtx held
    void Loop();
    bool RunOneTask(std::unique_lock<std::mutex>& lock);
    bool FireOneTimer(std::unique_lock<std::mutex>& lock);
};

bool UIMainQueue::Impl::RunOneTask(std::unique_lock<std::mutex>& lock) {
    if (tasks.empty()) return false;
    auto task = std::move(tasks.front());
    tasks.pop_front();
    running = true;
    lock.unlock();
    try {
        task();
    } catch (const std::exception& e) {
        KVA_LOG_ERROR("UI task failed: " << e.what());
    } catch (...) {
        KVA_LOG_ERROR("UI task failed");
    }
    lock.lock();
    running = false;
    cv.notify_all();
    return true;
}

bool UIMainQueue::Impl::FireOneTimer(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t now = plat::CClock::Get().TickCount64();
    auto it = std::min_element(timers.begin(), timers.end(), [](const Timer& a, const Timer& b) { return a.due < b.due; });
    if (it == timers.end() || it->due > now) return false;
    // Keep the period; ticks missed while the thread was busy coalesce into this one.
    it->due += it->interval;
    if (it->due <= now) it->due = now + it->interval;
    WindowImplBase* wnd = it->wnd;
    const std::uint32_t id = it->id;
    firing = wnd;
    lock.unlock();
    try {
        wnd->SendMessage(WM_TIMER, id, 0);
    } catch (...) {
        KVA_LOG_ERROR("timer " << id << " handler failed");
    }
    lock.lock();
    firing = nullptr;
    cv.notify_all();
    return true;
}

void UIMainQueue::Impl::EnsureLooping() {
    if (looping || shut) return;
    // The last thread has left Loop and needs nothing of ours to end.
    if (thread.joinable()) thread.join();
    looping = true;
    thread = std::thread(plat::CClock::Get().Tracked([this] { Loop(); }));
}

void UIMainQueue::Impl::Loop() {
    uiThread = std::this_thread::get_id();
    std::unique_lock lock(mtx);
    for (;;) {
        if (RunOneTask(lock) || FireOneTimer(lock)) continue;
        if (shut || timers.empty()) break;
        const std::uint64_t now = plat::CClock::Get().TickCount64();
        std::uint64_t due = UINT64_MAX;
        for (const auto& t : timers) due = std::min(due, t.due);
        const auto waitMs =
            due <= now ? 0 : static_cast<std::uint32_t>(std::min<std::uint64_t>(due - now, 0xFFFFFFFE));
        wake.Reset();
        lock.unlock();
        plat::CClock::Get().Wait({&wake}, waitMs);
        lock.lock();
    }
    // A later thread may get this one's id; IsUIThread must not answer for it.
    uiThread = std::thread::id();
    looping = false;
}

UIMainQueue* UIMainQueue::getInstance() {
    static UIMainQueue instance;
    return &instance;
}

UIMainQueue::UIMainQueue() : m_impl(std::make_unique<Impl>()) {}

UIMainQueue::~UIMainQueue() { Shutdown(); }

bool UIMainQueue::dispatch(std::function<void()> task) {
    {
        std::lock_guard lock(m_impl->mtx);
        if (m_impl->shut) return false;
        m_impl->tasks.push_back(std::move(task));
        m_impl->EnsureLooping();
    }
    m_impl->wake.Set();
    return true;
}

bool UIMainQueue::IsUIThread() const { return std::this_thread::get_id() == m_impl->uiThread; }

bool UIMainQueue::WaitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_impl->mtx);
    return m_impl->cv.wait_for(lock, timeout, [&] { return m_impl->tasks.empty() && !m_impl->running; });
}

void UIMainQueue::Shutdown() {
    {
        std::lock_guard lock(m_impl->mtx);
        m_impl->shut = true;
    }
    m_impl->wake.Set();
    // After `shut` no thread starts, so `thread` no longer changes.
    if (m_impl->thread.joinable() && !IsUIThread()) m_impl->thread.join();
}

void UIMainQueue::SetTimer(WindowImplBase* wnd, std::uint32_t id, std::uint32_t intervalMs) {
    const std::uint64_t due = plat::CClock::Get().TickCount64() + intervalMs;
    {
        std::lock_guard lock(m_impl->mtx);
        auto it = std::find_if(m_impl->timers.begin(), m_impl->timers.end(),
                               [&](const Impl::Timer& t) { return t.wnd == wnd && t.id == id; });
        if (it != m_impl->timers.end()) *it = Impl::Timer{wnd, id, intervalMs, due};
        else m_impl->timers.push_back(Impl::Timer{wnd, id, intervalMs, due});
        m_impl->EnsureLooping();
    }
    m_impl->wake.Set();
}

void UIMainQueue::KillTimer(WindowImplBase* wnd, std::uint32_t id) {
    {
        std::lock_guard lock(m_impl->mtx);
        std::erase_if(m_impl->timers, [&](const Impl::Timer& t) { return t.wnd == wnd && t.id == id; });
    }
    m_impl->wake.Set();  // the thread ends now if that was the last timer
}

void UIMainQueue::KillTimers(WindowImplBase* wnd) {
    std::unique_lock lock(m_impl->mtx);
    std::erase_if(m_impl->timers, [&](const Impl::Timer& t) { return t.wnd == wnd; });
    // A window destroyed from another thread must not be inside its own timer handler.
    if (!IsUIThread()) m_impl->cv.wait(lock, [&] { return m_impl->firing != wnd; });
    lock.unlock();
    m_impl->wake.Set();
}

}  // namespace DuiLib
