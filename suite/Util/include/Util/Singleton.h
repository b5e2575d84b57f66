// The suite's process-wide objects: one instance per process, built on first use (thread-safe),
// with its state in a nested Impl that only the class's .cpp defines. The instance can only be
// built where Impl is complete, so it lives in the class's own library however many modules ask
// for it. Each class keeps its own public accessor, defined in its .cpp on top of TheInstance().
#pragma once

#include <memory>

namespace suite {

// The Impl an object owns, built with it. The owner's constructor and destructor are instantiated
// where they are used, which for a singleton is its .cpp, where Impl is complete.
template <class Impl>
class CPimpl {
public:
    CPimpl() : m_p(std::make_unique<Impl>()) {}
    Impl* operator->() const { return m_p.get(); }
    Impl& operator*() const { return *m_p; }

private:
    std::unique_ptr<Impl> m_p;
};

enum class ELifetime {
    UntilExit,  // destroyed with the process's other statics
    Immortal,   // never destroyed: other threads may still use it while statics are destroyed at exit
};

template <class T, ELifetime Life = ELifetime::UntilExit>
class CSingleton {
public:
    CSingleton(const CSingleton&) = delete;
    CSingleton& operator=(const CSingleton&) = delete;

protected:
    CSingleton() = default;
    ~CSingleton() = default;

    static T& TheInstance() {
        if constexpr (Life == ELifetime::Immortal) {
            static T* const instance = new T();
            return *instance;
        } else {
            static T instance;
            return instance;
        }
    }
};

}  // namespace suite
