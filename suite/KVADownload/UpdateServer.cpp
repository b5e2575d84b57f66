#include "KVADownload/UpdateServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "kva/platform/Log.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxHeader = 16 * 1024;
constexpr std::size_t kMaxReportBody = 64 * 1024;
constexpr int kIoTimeoutMs = 30000;
constexpr std::size_t kMaxConnections = 64;

struct Request {
    std::string method, path, range;
    std::size_t contentLength = 0;
    std::string body;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "/packages/a%20b.zip?x" -> "packages/a b.zip"; empty when it would leave the root.
std::string CleanPath(const std::string& target) {
    std::string raw = target.substr(0, target.find('?'));
    std::string path;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() && HexValue(raw[i + 1]) >= 0 && HexValue(raw[i + 2]) >= 0) {
            path.push_back(static_cast<char>(HexValue(raw[i + 1]) * 16 + HexValue(raw[i + 2])));
            i += 2;
        } else {
            path.push_back(raw[i]);
        }
    }
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part == ".." || part.find('\0') != std::string::npos || part.find('\\') != std::string::npos) return {};
        if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
        start = end + 1;
    }
    return out;
}

// Parses "bytes=a-b", "bytes=a-", "bytes=-n" against `size`. False for an unsatisfiable range.
bool ParseRange(const std::string& text, std::uint64_t size, std::uint64_t* first, std::uint64_t* last) {
    if (text.rfind("bytes=", 0) != 0 || text.find(',') != std::string::npos) return false;
    const std::string range = text.substr(6);
    const auto dash = range.find('-');
    if (dash == std::string::npos) return false;
    const std::string a = range.substr(0, dash), b = range.substr(dash + 1);
    auto number = [](const std::string& s, std::uint64_t* v) {
        if (s.empty() || s.size() > 19 || s.find_first_not_of("0123456789") != std::string::npos) return false;
        *v = std::stoull(s);
        return true;
    };
    std::uint64_t x = 0, y = 0;
    if (a.empty()) {
        if (!number(b, &y) || y == 0 || size == 0) return false;
        *first = y >= size ? 0 : size - y;
        *last = size - 1;
        return true;
    }
    if (!number(a, &x) || x >= size) return false;
    *first = x;
    *last = b.empty() ? size - 1 : (number(b, &y) && y >= x ? std::min(y, size - 1) : UINT64_MAX);
    return *last != UINT64_MAX;
}

}  // namespace

bool ServeFault::Parse(const std::string& text) {
    if (text.empty()) {
        kind = None;
        return true;
    }
    if (text == "stall") return (kind = Stall, true);
    if (text == "corrupt") return (kind = Corrupt, true);
    if (text.rfind("drop-after=", 0) == 0) {
        const std::string n = text.substr(11);
        if (n.empty() || n.size() > 19 || n.find_first_not_of("0123456789") != std::string::npos) return false;
        kind = DropAfter;
        dropAfter = std::stoull(n);
        return true;
    }
    return false;
}

struct CUpdateServer::Impl {
    fs::path root;
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    std::uint16_t port = 0;
    std::thread acceptThread;
    std::mutex mutex;
    ServeFault fault;                     // guarded by mutex
    std::list<std::thread> connections;   // guarded by mutex
    std::list<std::thread::id> finished;  // guarded by mutex
    std::atomic<std::size_t> active{0};
    std::atomic<std::uint64_t> requests{0};
    std::atomic<bool> stopping{false};
    std::mutex reportMutex;

    // Waits for `events` on fd, or the server's stop; false on stop, time-out or error.
    bool WaitFor(int fd, short events, int timeoutMs) {
        pollfd p[2] = {{fd, events, 0}, {wakePipe[0], POLLIN, 0}};
        const int n = ::poll(p, 2, timeoutMs);
        return n > 0 && !(p[1].revents & POLLIN) && (p[0].revents & events);
    }

    bool SendAll(int fd, const char* data, std::size_t n) {
        while (n > 0) {
            if (!WaitFor(fd, POLLOUT, kIoTimeoutMs)) return false;
            const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
            if (w <= 0) {
                if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                return false;
            }
            data += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    }

    bool ReadRequest(int fd, Request* req) {
        std::string buf;
        std::size_t headerEnd = std::string::npos;
        char chunk[4096];
        while (headerEnd == std::string::npos) {
            if (buf.size() > kMaxHeader || !WaitFor(fd, POLLIN, kIoTimeoutMs)) return false;
            const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
            if (n <= 0) return false;
            buf.append(chunk, static_cast<std::size_t>(n));
            headerEnd = buf.find("\r\n\r\n");
        }
        if (headerEnd > kMaxHeader) return false;
        std::size_t lineEnd = buf.find("\r\n");
        const std::string first = buf.substr(0, lineEnd);
        const auto s1 = first.find(' '), s2 = first.rfind(' ');
        if (s1 == std::string::npos || s2 == s1) return false;
        req->method = first.substr(0, s1);
        req->path = first.substr(s1 + 1, s2 - s1 - 1);
        while (lineEnd < headerEnd) {
            const std::size_t next = buf.find("\r\n", lineEnd + 2);
            const std::string line = buf.substr(lineEnd + 2, next - lineEnd - 2);
            lineEnd = next;
            const auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            std::string name = line.substr(0, colon), value = line.substr(colon + 1);
            for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            value.erase(0, value.find_first_not_of(" \t"));
            if (name == "range") req->range = value;
            if (name == "content-length") {
                if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
                    return false;
                req->contentLength = std::stoul(value);
            }
        }
        req->body = buf.substr(headerEnd + 4);
        if (req->method == "POST") {
            if (req->contentLength > kMaxReportBody) return false;
            while (req->body.size() < req->contentLength) {
                if (!WaitFor(fd, POLLIN, kIoTimeoutMs)) return false;
                const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
                if (n <= 0) return false;
                req->body.append(chunk, static_cast<std::size_t>(n));
            }
            req->body.resize(req->contentLength);
        }
        return true;
    }

    void Answer(int fd, int status, const char* text, const std::string& body = {}) {
        const std::string head = "HTTP/1.1 " + std::to_string(status) + " " + text +
                                 "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\nConnection: close\r\n\r\n";
        SendAll(fd, head.data(), head.size()) && SendAll(fd, body.data(), body.size());
    }

    void Report(int fd, const Request& req) {
        {
            std::lock_guard lock(reportMutex);
            std::error_code ec;
            fs::create_directories(root / "reports", ec);
            std::ofstream out(root / "reports" / "upgrade-status.jsonl", std::ios::app);
            std::string line = req.body;
            for (char& c : line)
                if (c == '\n' || c == '\r') c = ' ';
            out << line << "\n";
        }
        Answer(fd, 200, "OK", "recorded\n");
    }

    void SendFile(int fd, const Request& req, const std::string& rel) {
        const fs::path file = root / rel;
        std::error_code ec;
        if (rel.empty() || !fs::is_regular_file(file, ec)) return Answer(fd, 404, "Not Found", "not found\n");
        const std::uint64_t size = fs::file_size(file, ec);
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0 || ec) {
            if (in >= 0) ::close(in);
            return Answer(fd, 403, "Forbidden", "forbidden\n");
        }
        std::uint64_t first = 0, last = size ? size - 1 : 0;
        bool partial = false;
        if (!req.range.empty()) {
            if (!ParseRange(req.range, size, &first, &last)) {
                ::close(in);
                const std::string head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                                         std::to_string(size) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                SendAll(fd, head.data(), head.size());
                return;
            }
            partial = true;
        }
        const std::uint64_t length = size ? last - first + 1 : 0;
        std::string head = std::string("HTTP/1.1 ") + (partial ? "206 Partial Content" : "200 OK") +
                           "\r\nContent-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\nContent-Length: " +
                           std::to_string(length) + "\r\nConnection: close\r\n";
        if (partial)
            head += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                    std::to_string(size) + "\r\n";
        head += "\r\n";
        ServeFault f;
        {
            std::lock_guard lock(mutex);
            if (rel.rfind("packages/", 0) == 0) f = fault;
        }
        if (!SendAll(fd, head.data(), head.size()) || req.method == "HEAD") return (void)::close(in);
        std::uint64_t limit = length;
        if (f.kind == ServeFault::DropAfter) limit = std::min(length, f.dropAfter);
        if (f.kind == ServeFault::Stall) limit = length / 2;
        std::vector<char> buf(256 * 1024);
        std::uint64_t sent = 0;
        while (sent < limit) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), limit - sent));
            const ssize_t n = ::pread(in, buf.data(), want, static_cast<off_t>(first + sent));
            if (n <= 0) break;
            if (f.kind == ServeFault::Corrupt) {
                const std::uint64_t middle = size / 2;
                const std::uint64_t at = first + sent;
                if (middle >= at && middle < at + static_cast<std::uint64_t>(n)) buf[middle - at] ^= 0x5A;
            }
            if (!SendAll(fd, buf.data(), static_cast<std::size_t>(n))) break;
            sent += static_cast<std::uint64_t>(n);
        }
        ::close(in);
        if (f.kind == ServeFault::Stall) {
            // Hold the connection open without sending until the client goes or we stop.
            while (!stopping) {
                pollfd p[2] = {{fd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
                const int n = ::poll(p, 2, 1000);
                if (n < 0 && errno != EINTR) break;
                if (n <= 0) continue;
                if (p[1].revents & POLLIN) break;
                char c;
                const ssize_t r = ::recv(fd, &c, 1, MSG_DONTWAIT);
                if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) break;
            }
        }
    }

    void Serve(int fd) {
        Request req;
        if (ReadRequest(fd, &req)) {
            requests++;
            if (req.method == "POST" && CleanPath(req.path) == "report") Report(fd, req);
            else if (req.method == "GET" || req.method == "HEAD") SendFile(fd, req, CleanPath(req.path));
            else Answer(fd, 405, "Method Not Allowed", "method not allowed\n");
        } else if (!stopping) {
            Answer(fd, 400, "Bad Request", "bad request\n");
        }
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }

    void Reap() {
        std::list<std::thread> done;
        {
            std::lock_guard lock(mutex);
            for (auto id : finished)
                for (auto it = connections.begin(); it != connections.end(); ++it)
                    if (it->get_id() == id) {
                        done.splice(done.end(), connections, it);
                        break;
                    }
            finished.clear();
        }
        for (auto& t : done) t.join();
    }

    void AcceptLoop() {
        while (!stopping) {
            pollfd p[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
            if (::poll(p, 2, 1000) < 0 && errno != EINTR) break;
            Reap();
            if (p[1].revents & POLLIN) break;
            if (!(p[0].revents & POLLIN)) continue;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            if (active >= kMaxConnections) {
                Answer(fd, 503, "Service Unavailable", "busy\n");
                ::close(fd);
                continue;
            }
            active++;
            std::lock_guard lock(mutex);
            connections.emplace_back([this, fd] {
                Serve(fd);
                active--;
                std::lock_guard l(mutex);
                finished.push_back(std::this_thread::get_id());
            });
        }
    }
};

CUpdateServer::CUpdateServer() : m_impl(std::make_unique<Impl>()) {}
CUpdateServer::~CUpdateServer() { Stop(); }

bool CUpdateServer::Start(const fs::path& root, std::uint16_t port, ServeFault fault, std::string* error) {
    Impl& s = *m_impl;
    if (s.listenFd >= 0) return (*error = "already started", false);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return (*error = "no such folder: " + root.string(), false);
    s.root = fs::absolute(root, ec);
    s.fault = fault;
    if (::pipe2(s.wakePipe, O_CLOEXEC) != 0) return (*error = std::strerror(errno), false);
    s.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(s.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s.listenFd < 0 || ::bind(s.listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(s.listenFd, 64) != 0) {
        *error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " + std::strerror(errno);
        Stop();
        return false;
    }
    socklen_t len = sizeof(addr);
    ::getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    s.port = ntohs(addr.sin_port);
    s.stopping = false;
    s.acceptThread = std::thread([&s] { s.AcceptLoop(); });
    return true;
}

std::uint16_t CUpdateServer::Port() const { return m_impl->port; }
std::string CUpdateServer::Url() const { return "http://127.0.0.1:" + std::to_string(m_impl->port); }
std::uint64_t CUpdateServer::Requests() const { return m_impl->requests; }

void CUpdateServer::SetFault(ServeFault fault) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->fault = fault;
}

void CUpdateServer::Stop() {
    Impl& s = *m_impl;
    s.stopping = true;
    if (s.wakePipe[1] >= 0) (void)!::write(s.wakePipe[1], "x", 1);
    if (s.acceptThread.joinable()) s.acceptThread.join();
    std::list<std::thread> all;
    {
        std::lock_guard lock(s.mutex);
        all.swap(s.connections);
        s.finished.clear();
    }
    for (auto& t : all) t.join();
    for (int* fd : {&s.listenFd, &s.wakePipe[0], &s.wakePipe[1]})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}
