// The parts of CSocket both backends share, on their WaitFor and SendSome.
#include "kva/platform/Socket.h"

#include <utility>

namespace plat {

CSocket::CSocket(CSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

CSocket& CSocket::operator=(CSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

CSocket::~CSocket() { Close(); }

SocketWait CSocket::WaitReadable(const CWaker* waker, std::chrono::milliseconds timeout) const {
    return WaitFor(false, waker, timeout);
}

SocketWait CSocket::WaitWritable(const CWaker* waker, std::chrono::milliseconds timeout) const {
    return WaitFor(true, waker, timeout);
}

bool CSocket::SendAll(const char* data, std::size_t size, const CWaker* waker, std::chrono::milliseconds timeout) {
    while (size > 0) {
        if (WaitWritable(waker, timeout) != SocketWait::Ready) return false;
        const long w = SendSome(data, size);
        if (w == kWouldBlock) continue;
        if (w <= 0) return false;
        data += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace plat
