// ZeroMQ helpers shared by the client and the hub; ZeroMQ types stay inside this library.
#pragma once

#include <memory>
#include <zmq.hpp>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KVA_IPC_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KVA_IPC_TSAN 1
#endif
#ifdef KVA_IPC_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace ipcmsg {

// The ZeroMQ context shared by every client and hub of this process (inproc:// needs one context
// for both ends). It lives while one of them holds it and is terminated with the last, so no
// ZeroMQ thread outlives the library's objects.
std::shared_ptr<zmq::context_t> SharedZmqContext();

// Inside one process (inproc://) ZeroMQ hands the very buffer of a message to the receiving
// thread, ordered by atomics of the distribution's uninstrumented libzmq. These tell
// ThreadSanitizer about that hand-over; elsewhere they are nothing.
inline void BeforeSend(const zmq::message_t& msg) {
#ifdef KVA_IPC_TSAN
    __tsan_release(const_cast<void*>(msg.data()));
#else
    (void)msg;
#endif
}

inline void AfterReceive(const zmq::message_t& msg) {
#ifdef KVA_IPC_TSAN
    __tsan_acquire(const_cast<void*>(msg.data()));
#else
    (void)msg;
#endif
}

}  // namespace ipcmsg
