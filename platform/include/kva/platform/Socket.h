// Loopback TCP for the suite's own small servers and their tests (the update service, readiness
// probes of child servers). IPv4 127.0.0.1 only: nothing here is meant to face a network.
// A CSocket has one owner thread; a CWaker may be woken from any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// Ends the waits that watch it, from another thread; stays woken once woken.
class CWaker {
public:
    CWaker();
    CWaker(const CWaker&) = delete;
    CWaker& operator=(const CWaker&) = delete;
    ~CWaker();

    bool Valid() const;
    void Wake();

private:
    friend class CSocket;
    int m_fds[2] = {-1, -1};
};

enum class SocketWait { Ready, Woken, TimedOut, Failed };

class CSocket {
public:
    // What Receive returns when a non-blocking receive found nothing to read.
    static constexpr long kWouldBlock = -2;

    CSocket() = default;
    CSocket(CSocket&& other) noexcept;
    CSocket& operator=(CSocket&& other) noexcept;
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    ~CSocket();

    // Listens on 127.0.0.1:port (0 picks a free port); an invalid socket with `error` when it cannot.
    static CSocket ListenLoopback(std::uint16_t port, std::string* error);
    // Connects to 127.0.0.1:port; an invalid socket when nothing listens there.
    static CSocket ConnectLoopback(std::uint16_t port);

    bool Valid() const { return m_fd >= 0; }
    std::uint16_t LocalPort() const;
    // The next pending connection of a listening socket; invalid when there is none or on error.
    CSocket Accept() const;

    // Waits until the socket can be read (or written), the waker is woken (checked first), or the
    // time-out passes.
    SocketWait WaitReadable(const CWaker* waker, std::chrono::milliseconds timeout) const;
    SocketWait WaitWritable(const CWaker* waker, std::chrono::milliseconds timeout) const;

    // Sends all of `data`, waiting up to `timeout` each time the peer is slow to take it; false when
    // the connection failed, the waker woke or the time ran out.
    bool SendAll(const char* data, std::size_t size, const CWaker* waker, std::chrono::milliseconds timeout);
    // Bytes read, 0 when the peer closed, -1 on error; `dontWait` returns kWouldBlock at once
    // instead of blocking.
    long Receive(char* buffer, std::size_t size, bool dontWait = false);

    // Ends the sending side only (the peer reads the end), or both sides.
    void ShutdownSending();
    void Shutdown();
    void Close();

private:
    explicit CSocket(int fd) : m_fd(fd) {}
    // The backend's own steps, under the waits and the send loop that both backends share.
    SocketWait WaitFor(bool writable, const CWaker* waker, std::chrono::milliseconds timeout) const;
    // What the socket takes at once: bytes sent, kWouldBlock when it is worth waiting and trying
    // again, anything else a failed connection.
    long SendSome(const char* data, std::size_t size);

    int m_fd = -1;
};

}  // namespace plat
