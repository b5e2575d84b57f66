#include "ZmqSupport.h"

#include <mutex>

namespace ipcmsg {

std::shared_ptr<zmq::context_t> SharedZmqContext() {
    // Never destroyed, so a client destroyed during static destruction still finds them.
    static auto* mtx = new std::mutex;
    static auto* current = new std::weak_ptr<zmq::context_t>;
    std::lock_guard lock(*mtx);
    if (auto ctx = current->lock()) return ctx;
    auto ctx = std::make_shared<zmq::context_t>(1);
    // Sockets set their own linger; a context never blocks forever at termination.
    ctx->set(zmq::ctxopt::blocky, 0);
    *current = ctx;
    return ctx;
}

}  // namespace ipcmsg
