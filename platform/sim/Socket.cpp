#include "kva/platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace plat {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

CWaker::CWaker() {
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) m_fds[0] = m_fds[1] = -1;
}

CWaker::~CWaker() {
    for (int fd : m_fds)
        if (fd >= 0) ::close(fd);
}

bool CWaker::Valid() const { return m_fds[0] >= 0; }

void CWaker::Wake() {
    // The byte is never read, so the pipe stays readable: every later wait sees the wake too.
    if (m_fds[1] >= 0) (void)!::write(m_fds[1], "x", 1);
}

CSocket CSocket::ListenLoopback(std::uint16_t port, std::string* error) {
    CSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int one = 1;
    if (s.Valid()) ::setsockopt(s.m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr = Loopback(port);
    if (!s.Valid() || ::bind(s.m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(s.m_fd, 64) != 0) {
        if (error)
            *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return CSocket();
    }
    return s;
}

CSocket CSocket::ConnectLoopback(std::uint16_t port) {
    CSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr = Loopback(port);
    if (s.Valid() && ::connect(s.m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) s.Close();
    return s;
}

std::uint16_t CSocket::LocalPort() const {
    sockaddr_in addr{};
    socklen_t len = sizeof(addr);
    if (m_fd < 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

CSocket CSocket::Accept() const { return CSocket(m_fd < 0 ? -1 : ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)); }

SocketWait CSocket::WaitFor(bool writable, const CWaker* waker, std::chrono::milliseconds timeout) const {
    const short events = writable ? POLLOUT : POLLIN;
    pollfd p[2] = {{m_fd, events, 0}, {waker ? waker->m_fds[0] : -1, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(p, 2, static_cast<int>(timeout.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SocketWait::Failed;
        if (n == 0) return SocketWait::TimedOut;
        if (p[1].revents & POLLIN) return SocketWait::Woken;
        // A hang-up or error is "ready" too: the read or write that follows tells which.
        return SocketWait::Ready;
    }
}

long CSocket::SendSome(const char* data, std::size_t size) {
    const ssize_t w = ::send(m_fd, data, size, MSG_NOSIGNAL);
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) return kWouldBlock;
    return w > 0 ? static_cast<long>(w) : -1;
}

long CSocket::Receive(char* buffer, std::size_t size, bool dontWait) {
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, size, dontWait ? MSG_DONTWAIT : 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWouldBlock : -1;
    }
}

void CSocket::ShutdownSending() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_WR);
}

void CSocket::Shutdown() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

void CSocket::Close() {
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
}

}  // namespace plat
