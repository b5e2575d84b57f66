// Loopback TCP on Winsock. A SOCKET is a kernel handle, and only the low 32 bits of a kernel handle
// are significant (so that 32- and 64-bit processes can share them): it fits the port's int, and
// INVALID_SOCKET becomes -1. Windows has no pipe that a socket wait can watch, so a waker is a
// connected loopback pair: Wake sends a byte that nobody reads.
#include "kva/platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <utility>

#include "Win32.h"

namespace plat {

namespace {

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Native(int fd) { return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<unsigned>(fd)); }
int Ours(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

// A stream socket that child processes do not inherit.
int NewStreamSocket() {
    if (!StartWinsock()) return -1;
    return Ours(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = ::htons(port);
    addr.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return addr;
}

int ClampTimeout(std::chrono::milliseconds timeout) {
    return static_cast<int>(std::clamp<std::int64_t>(timeout.count(), 0, 0x7FFFFFFF));
}

}  // namespace

CWaker::CWaker() {
    // Both ends made and connected here: the listening socket lives only for the handshake.
    const SOCKET listener = Native(NewStreamSocket());
    sockaddr_in addr = Loopback(0);
    int len = sizeof(addr);
    const bool listening = listener != INVALID_SOCKET &&
                           ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                           ::listen(listener, 1) == 0 &&
                           ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    const SOCKET writer = listening ? Native(NewStreamSocket()) : INVALID_SOCKET;
    const bool connected =
        writer != INVALID_SOCKET && ::connect(writer, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    const SOCKET reader = connected ? ::accept(listener, nullptr, nullptr) : INVALID_SOCKET;
    if (listener != INVALID_SOCKET) ::closesocket(listener);
    if (reader == INVALID_SOCKET) {
        if (writer != INVALID_SOCKET) ::closesocket(writer);
        return;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(reader), HANDLE_FLAG_INHERIT, 0);
    m_fds[0] = Ours(reader);
    m_fds[1] = Ours(writer);
}

CWaker::~CWaker() {
    for (int fd : m_fds)
        if (fd >= 0) ::closesocket(Native(fd));
}

bool CWaker::Valid() const { return m_fds[0] >= 0; }

void CWaker::Wake() {
    // The byte is never read, so the pair stays readable: every later wait sees the wake too.
    if (m_fds[1] >= 0) ::send(Native(m_fds[1]), "x", 1, 0);
}

CSocket CSocket::ListenLoopback(std::uint16_t port, std::string* error) {
    CSocket s(NewStreamSocket());
    // Windows lets a second socket take a port with SO_REUSEADDR; exclusive use refuses that.
    const BOOL one = TRUE;
    if (s.Valid())
        ::setsockopt(Native(s.m_fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof(one));
    sockaddr_in addr = Loopback(port);
    if (!s.Valid() || ::bind(Native(s.m_fd), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(Native(s.m_fd), 64) != 0) {
        if (error)
            *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + win32::SystemErrorText(static_cast<DWORD>(::WSAGetLastError()));
        return CSocket();
    }
    return s;
}

CSocket CSocket::ConnectLoopback(std::uint16_t port) {
    CSocket s(NewStreamSocket());
    sockaddr_in addr = Loopback(port);
    if (s.Valid() && ::connect(Native(s.m_fd), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) s.Close();
    return s;
}

std::uint16_t CSocket::LocalPort() const {
    sockaddr_in addr{};
    int len = sizeof(addr);
    if (m_fd < 0 || ::getsockname(Native(m_fd), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ::ntohs(addr.sin_port);
}

CSocket CSocket::Accept() const {
    if (m_fd < 0) return CSocket();
    const SOCKET s = ::accept(Native(m_fd), nullptr, nullptr);
    if (s != INVALID_SOCKET) ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return CSocket(Ours(s));
}

SocketWait CSocket::WaitFor(bool writable, const CWaker* waker, std::chrono::milliseconds timeout) const {
    const SHORT events = writable ? POLLOUT : POLLIN;
    WSAPOLLFD p[2] = {{Native(m_fd), events, 0}, {waker ? Native(waker->m_fds[0]) : INVALID_SOCKET, POLLIN, 0}};
    const ULONG count = waker && waker->m_fds[0] >= 0 ? 2 : 1;
    const int n = ::WSAPoll(p, count, ClampTimeout(timeout));
    if (n < 0) return SocketWait::Failed;
    if (n == 0) return SocketWait::TimedOut;
    if (count == 2 && (p[1].revents & POLLIN)) return SocketWait::Woken;
    // A hang-up or error is "ready" too: the read or write that follows tells which.
    return SocketWait::Ready;
}

long CSocket::SendSome(const char* data, std::size_t size) {
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    const int w = ::send(Native(m_fd), data, chunk, 0);
    if (w == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) return kWouldBlock;
    return w > 0 ? w : -1;
}

long CSocket::Receive(char* buffer, std::size_t size, bool dontWait) {
    // Winsock has no per-call "don't wait": a zero wait tells whether a read would block.
    if (dontWait) {
        const SocketWait ready = WaitFor(false, nullptr, std::chrono::milliseconds(0));
        if (ready == SocketWait::TimedOut) return kWouldBlock;
        if (ready == SocketWait::Failed) return -1;
    }
    const int n = ::recv(Native(m_fd), buffer, static_cast<int>(std::min<std::size_t>(size, 0x7FFFFFFF)), 0);
    if (n >= 0) return n;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : -1;
}

void CSocket::ShutdownSending() {
    if (m_fd >= 0) ::shutdown(Native(m_fd), SD_SEND);
}

void CSocket::Shutdown() {
    if (m_fd >= 0) ::shutdown(Native(m_fd), SD_BOTH);
}

void CSocket::Close() {
    if (m_fd >= 0) ::closesocket(Native(std::exchange(m_fd, -1)));
}

}  // namespace plat
