#include "ServeKit/Nginx.h"

#include <chrono>
#include <fstream>
#include <thread>

#include "kva/platform/Socket.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr int kPortAttempts = 5;

// A port nothing listened on a moment ago. Another process may take it before nginx binds it; a
// start that then fails is tried again on another port.
std::uint16_t UnusedPort() {
    plat::CSocket probe = plat::CSocket::ListenLoopback(0, nullptr);
    return probe.LocalPort();
}

void WriteConfig(const fs::path& conf, std::uint16_t port, const fs::path& root, const fs::path& work,
                 const std::string& serverLines, bool asRoot) {
    const std::string tmp = (work / "tmp").string();
    std::ofstream out(conf);
    out << (asRoot ? "user root;\n" : "") << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
        << "pid " << (work / "nginx.pid").string() << ";\nerror_log " << (work / "logs/error.log").string() << ";\n"
        << "events { worker_connections 64; }\nhttp {\n  access_log off;\n"
        << "  client_body_temp_path " << tmp << ";\n  proxy_temp_path " << tmp << ";\n"
        << "  fastcgi_temp_path " << tmp << ";\n  uwsgi_temp_path " << tmp << ";\n  scgi_temp_path " << tmp << ";\n"
        << "  default_type application/octet-stream;\n  sendfile on;\n"
        << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root.string() << ";\n"
        << "    " << serverLines << "\n  }\n}\n";
}

}  // namespace

bool CNginx::Start(const fs::path& root, const fs::path& work, const std::string& serverLines, std::string* error) {
    std::error_code ec;
    if (!fs::exists(kNginx, ec)) return (*error = "nginx is not installed (make deps)", false);
    fs::create_directories(work / "logs", ec);
    fs::create_directories(work / "tmp", ec);
    for (int attempt = 0; attempt < kPortAttempts; ++attempt)
        if (StartOn(UnusedPort(), root, work, serverLines, error)) return true;
    return false;
}

bool CNginx::StartOn(std::uint16_t port, const fs::path& root, const fs::path& work, const std::string& serverLines,
                     std::string* error) {
    const fs::path conf = work / "nginx.conf", pidFile = work / "nginx.pid";
    std::error_code ec;
    fs::remove(pidFile, ec);
    WriteConfig(conf, port, root, work, serverLines, plat::IsSuperUser());
    if (!m_child.Start(kNginx, {"-p", work.string() + "/", "-c", conf.string()}))
        return (*error = "cannot start nginx", false);
    // nginx writes its pid file only once it holds its sockets, so a port taken by someone else in
    // the meantime shows as an exit, never as someone else's server answering.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!m_child.Running()) return (*error = "nginx exited; see " + (work / "logs/error.log").string(), false);
        if (fs::exists(pidFile, ec) && plat::CSocket::ConnectLoopback(port).Valid()) {
            m_port = port;
            m_running = true;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // nginx runs in real time
    }
    m_child.Stop();
    return (*error = "nginx did not start listening", false);
}

void CNginx::Stop() {
    if (m_running) m_child.Stop();
    m_running = false;
}
