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
    std::mutex m_mutex;
};

// Waits with a std::unique_lock<CMutex>; the lock is held again when a wait returns.
using CCondition = std::condition_variable_any;

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
