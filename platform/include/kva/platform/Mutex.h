// A mutex that clang's thread-safety analysis understands, and the annotations for what it guards.
//
//   plat::CMutex m_mtx;
//   std::vector<T> m_items KVA_GUARDED_BY(m_mtx);
//   void AddLocked(T t) KVA_REQUIRES(m_mtx);
//   ... std::lock_guard lock(m_mtx);  // or std::unique_lock, also with a condition variable
//
// std::lock_guard and std::unique_lock are specialised for CMutex below, so the usual lock lines
// are checked without a project-specific guard type. Other compilers ignore the annotations.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KVA_TSA(x) __attribute__((x))
#else
#define KVA_TSA(x)
#endif

#define KVA_CAPABILITY(x) KVA_TSA(capability(x))
#define KVA_SCOPED_CAPABILITY KVA_TSA(scoped_lockable)
#define KVA_GUARDED_BY(x) KVA_TSA(guarded_by(x))
#define KVA_PT_GUARDED_BY(x) KVA_TSA(pt_guarded_by(x))
#define KVA_ACQUIRED_BEFORE(...) KVA_TSA(acquired_before(__VA_ARGS__))
#define KVA_REQUIRES(...) KVA_TSA(requires_capability(__VA_ARGS__))
#define KVA_ACQUIRE(...) KVA_TSA(acquire_capability(__VA_ARGS__))
#define KVA_RELEASE(...) KVA_TSA(release_capability(__VA_ARGS__))
#define KVA_TRY_ACQUIRE(...) KVA_TSA(try_acquire_capability(__VA_ARGS__))
#define KVA_EXCLUDES(...) KVA_TSA(locks_excluded(__VA_ARGS__))
#define KVA_RETURN_CAPABILITY(x) KVA_TSA(lock_returned(x))
#define KVA_NO_THREAD_SAFETY_ANALYSIS KVA_TSA(no_thread_safety_analysis)

namespace plat {

class KVA_CAPABILITY("mutex") CMutex {
public:
    CMutex() = default;
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    void lock() KVA_ACQUIRE() { m_mutex.lock(); }
    void unlock() KVA_RELEASE() { m_mutex.unlock(); }
    bool try_lock() KVA_TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

private:
    friend class CCondition;
    std::mutex m_mutex;
};

}  // namespace plat

template <>
class KVA_SCOPED_CAPABILITY std::lock_guard<plat::CMutex> {
public:
    explicit lock_guard(plat::CMutex& m) KVA_ACQUIRE(m) : m_mutex(m) { m_mutex.lock(); }
    lock_guard(plat::CMutex& m, std::adopt_lock_t) KVA_REQUIRES(m) : m_mutex(m) {}
    ~lock_guard() KVA_RELEASE() { m_mutex.unlock(); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    plat::CMutex& m_mutex;
};

template <>
class KVA_SCOPED_CAPABILITY std::unique_lock<plat::CMutex> {
public:
    using mutex_type = plat::CMutex;

    explicit unique_lock(plat::CMutex& m) KVA_ACQUIRE(m) : m_mutex(&m), m_owns(true) { m.lock(); }
    unique_lock(plat::CMutex& m, std::defer_lock_t) KVA_EXCLUDES(m) : m_mutex(&m), m_owns(false) {}
    ~unique_lock() KVA_RELEASE() {
        if (m_owns) m_mutex->unlock();
    }
    unique_lock(const unique_lock&) = delete;
    unique_lock& operator=(const unique_lock&) = delete;

    void lock() KVA_ACQUIRE() {
        m_mutex->lock();
        m_owns = true;
    }
    void unlock() KVA_RELEASE() {
        m_owns = false;
        m_mutex->unlock();
    }
    bool owns_lock() const { return m_owns; }
    plat::CMutex* mutex() const { return m_mutex; }

private:
    plat::CMutex* m_mutex;
    bool m_owns;
};

namespace plat {

// A condition for waits with a std::unique_lock<CMutex>; the lock is held again when a wait
// returns. It waits on the mutex's own std::mutex, so a notification takes no lock of its own (a
// woken thread does not wait for the notifying one to release it). The predicates run with the
// caller's lock held, which the analysis cannot see through the unique_lock, hence its opt-outs.
class CCondition {
public:
    void notify_one() noexcept { m_cv.notify_one(); }
    void notify_all() noexcept { m_cv.notify_all(); }

    void wait(std::unique_lock<CMutex>& lock) {
        std::unique_lock<std::mutex> inner(lock.mutex()->m_mutex, std::adopt_lock);
        m_cv.wait(inner);
        inner.release();
    }
    template <class Pred>
    void wait(std::unique_lock<CMutex>& lock, Pred ready) KVA_NO_THREAD_SAFETY_ANALYSIS {
        while (!ready()) wait(lock);
    }
    template <class C, class D>
    std::cv_status wait_until(std::unique_lock<CMutex>& lock, const std::chrono::time_point<C, D>& until) {
        std::unique_lock<std::mutex> inner(lock.mutex()->m_mutex, std::adopt_lock);
        const std::cv_status status = m_cv.wait_until(inner, until);
        inner.release();
        return status;
    }
    template <class C, class D, class Pred>
    bool wait_until(std::unique_lock<CMutex>& lock, const std::chrono::time_point<C, D>& until, Pred ready)
        KVA_NO_THREAD_SAFETY_ANALYSIS {
        while (!ready()) {
            if (wait_until(lock, until) == std::cv_status::timeout) return ready();
        }
        return true;
    }
    template <class R, class P, class Pred>
    bool wait_for(std::unique_lock<CMutex>& lock, const std::chrono::duration<R, P>& span, Pred ready) {
        using Steady = std::chrono::steady_clock;
        const auto now = Steady::now();
        // A span too long to add to now (milliseconds::max(), say) waits without end.
        if (std::chrono::duration<double>(span) >= std::chrono::duration<double>(Steady::time_point::max() - now)) {
            wait(lock, std::move(ready));
            return true;
        }
        return wait_until(lock, now + std::chrono::duration_cast<Steady::duration>(span), std::move(ready));
    }

private:
    std::condition_variable m_cv;
};

}  // namespace plat
