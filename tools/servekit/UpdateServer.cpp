#include "ServeKit/UpdateServer.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "kva/platform/File.h"
#include "kva/platform/Log.h"
#include "kva/platform/Socket.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxHeader = 16 * 1024;
constexpr std::size_t kMaxReportBody = 64 * 1024;
constexpr std::chrono::milliseconds kIoTimeout{30000};
constexpr std::chrono::milliseconds kStallPoll{1000};
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

// "123", "64K", "2M" as a byte count; false for anything else.
bool ParseBytes(const std::string& text, std::uint64_t* out) {
    std::string n = text;
    std::uint64_t unit = 1;
    if (!n.empty() && (n.back() == 'K' || n.back() == 'M')) {
        unit = n.back() == 'K' ? 1024 : 1024 * 1024;
        n.pop_back();
    }
    if (n.empty() || n.size() > 12 || n.find_first_not_of("0123456789") != std::string::npos) return false;
    *out = std::stoull(n) * unit;
    return true;
}

}  // namespace

bool ServeFault::Parse(const std::string& text) {
    *this = ServeFault{};
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string one = text.substr(start, end - start);
        start = end + 1;
        if (one == "stall") kind = Stall;
        else if (one == "corrupt") kind = Corrupt;
        else if (one.rfind("drop-after=", 0) == 0 && ParseBytes(one.substr(11), &dropAfter)) kind = DropAfter;
        else if (one.rfind("rate=", 0) == 0 && ParseBytes(one.substr(5), &bytesPerSecond) && bytesPerSecond > 0) continue;
        else return false;
    }
    return true;
}

struct CUpdateServer::Impl {
    fs::path root;
    plat::CSocket listener;
    std::unique_ptr<plat::CWaker> waker;  // made anew by each Start: a woken one stays woken
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

    // Appends what the peer sends to `buf`; false on stop, time-out, close or error.
    bool ReceiveMore(plat::CSocket& conn, std::string* buf) {
        char chunk[4096];
        if (conn.WaitReadable(waker.get(), kIoTimeout) != plat::SocketWait::Ready) return false;
        const long n = conn.Receive(chunk, sizeof(chunk));
        if (n <= 0) return false;
        buf->append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    bool SendAll(plat::CSocket& conn, const std::string& data) {
        return conn.SendAll(data.data(), data.size(), waker.get(), kIoTimeout);
    }

    bool ReadRequest(plat::CSocket& conn, Request* req) {
        std::string buf;
        std::size_t headerEnd = std::string::npos;
        while (headerEnd == std::string::npos) {
            if (buf.size() > kMaxHeader || !ReceiveMore(conn, &buf)) return false;
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
            while (req->body.size() < req->contentLength)
                if (!ReceiveMore(conn, &req->body)) return false;
            req->body.resize(req->contentLength);
        }
        return true;
    }

    void Answer(plat::CSocket& conn, int status, const char* text, const std::string& body = {}) {
        const std::string head = "HTTP/1.1 " + std::to_string(status) + " " + text +
                                 "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\nConnection: close\r\n\r\n";
        SendAll(conn, head) && SendAll(conn, body);
    }

    void Report(plat::CSocket& conn, const Request& req) {
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
        Answer(conn, 200, "OK", "recorded\n");
    }

    void SendFile(plat::CSocket& conn, const Request& req, const std::string& rel) {
        const fs::path file = root / rel;
        std::error_code ec;
        if (rel.empty() || !fs::is_regular_file(file, ec)) return Answer(conn, 404, "Not Found", "not found\n");
        const std::uint64_t size = fs::file_size(file, ec);
        plat::CFile in;
        if (!in.OpenForReading(file) || ec) return Answer(conn, 403, "Forbidden", "forbidden\n");
        std::uint64_t first = 0, last = size ? size - 1 : 0;
        bool partial = false;
        if (!req.range.empty()) {
            if (!ParseRange(req.range, size, &first, &last)) {
                SendAll(conn, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(size) +
                                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
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
        if (!SendAll(conn, head) || req.method == "HEAD") return;
        std::uint64_t limit = length;
        if (f.kind == ServeFault::DropAfter) limit = std::min(length, f.dropAfter);
        if (f.kind == ServeFault::Stall) limit = length / 2;
        // Paced sends go in twentieths of a second's worth, so progress shows smoothly.
        std::vector<char> buf(f.bytesPerSecond ? std::clamp<std::uint64_t>(f.bytesPerSecond / 20, 1024, 256 * 1024)
                                               : 256 * 1024);
        const auto begun = std::chrono::steady_clock::now();
        std::uint64_t sent = 0;
        while (sent < limit) {
            if (f.bytesPerSecond && !Pace(conn, begun, sent, f.bytesPerSecond)) break;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), limit - sent));
            const long n = in.ReadAt(buf.data(), want, first + sent);
            if (n <= 0) break;
            if (f.kind == ServeFault::Corrupt) {
                const std::uint64_t middle = size / 2;
                const std::uint64_t at = first + sent;
                if (middle >= at && middle < at + static_cast<std::uint64_t>(n)) buf[middle - at] ^= 0x5A;
            }
            if (!conn.SendAll(buf.data(), static_cast<std::size_t>(n), waker.get(), kIoTimeout)) break;
            sent += static_cast<std::uint64_t>(n);
        }
        in.Close();
        if (f.kind == ServeFault::Stall) HoldOpen(conn);
    }

    // Waits until `sent` bytes are due at `bytesPerSecond` since `begun`; false when the server
    // stops or the client goes meanwhile.
    bool Pace(plat::CSocket& conn, std::chrono::steady_clock::time_point begun, std::uint64_t sent,
              std::uint64_t bytesPerSecond) {
        const auto due = begun + std::chrono::milliseconds(sent * 1000 / bytesPerSecond);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        if (wait.count() <= 0) return !stopping;
        return conn.WaitReadable(waker.get(), wait) == plat::SocketWait::TimedOut;
    }

    // Holds a stalled connection open without sending until the client goes or we stop.
    void HoldOpen(plat::CSocket& conn) {
        while (!stopping) {
            const plat::SocketWait w = conn.WaitReadable(waker.get(), kStallPoll);
            if (w == plat::SocketWait::TimedOut) continue;
            if (w != plat::SocketWait::Ready) break;
            char c;
            const long r = conn.Receive(&c, 1, true);
            if (r == 0 || r == -1) break;
        }
    }

    void Serve(plat::CSocket conn) {
        Request req;
        if (ReadRequest(conn, &req)) {
            requests++;
            if (req.method == "POST" && CleanPath(req.path) == "report") Report(conn, req);
            else if (req.method == "GET" || req.method == "HEAD") SendFile(conn, req, CleanPath(req.path));
            else Answer(conn, 405, "Method Not Allowed", "method not allowed\n");
        } else if (!stopping) {
            Answer(conn, 400, "Bad Request", "bad request\n");
        }
        conn.Shutdown();
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
            const plat::SocketWait w = listener.WaitReadable(waker.get(), kStallPoll);
            Reap();
            if (w == plat::SocketWait::Woken || w == plat::SocketWait::Failed) break;
            if (w != plat::SocketWait::Ready) continue;
            plat::CSocket conn = listener.Accept();
            if (!conn.Valid()) continue;
            if (active >= kMaxConnections) {
                Answer(conn, 503, "Service Unavailable", "busy\n");
                continue;
            }
            active++;
            std::lock_guard lock(mutex);
            connections.emplace_back([this, c = std::move(conn)]() mutable {
                Serve(std::move(c));
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
    if (s.listener.Valid() || s.acceptThread.joinable()) return (*error = "already started", false);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return (*error = "no such folder: " + root.string(), false);
    s.waker = std::make_unique<plat::CWaker>();
    if (!s.waker->Valid()) return (*error = "cannot make the stop signal", false);
    s.root = fs::absolute(root, ec);
    s.fault = fault;
    s.listener = plat::CSocket::ListenLoopback(port, error);
    if (!s.listener.Valid()) return false;
    s.port = s.listener.LocalPort();
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
    if (s.waker) s.waker->Wake();
    if (s.acceptThread.joinable()) s.acceptThread.join();
    std::list<std::thread> all;
    {
        std::lock_guard lock(s.mutex);
        all.swap(s.connections);
        s.finished.clear();
    }
    for (auto& t : all) t.join();
    s.listener.Close();
}
