#include "ServiceFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "KVADownload/Catalogue.h"
#include "KVADownload/Folders.h"
#include "Util/CommonCfgMgr.h"
#include "kva/platform/Clock.h"

extern char** environ;

namespace kvatest {

namespace fs = std::filesystem;

std::string BackendName(Backend b) {
    switch (b) {
        case Backend::File: return "File";
        case Backend::Server: return "Server";
        case Backend::KvaServe: return "KvaServe";
        case Backend::Nginx: return "Nginx";
    }
    return "?";
}

namespace {

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool CanConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool CNginx::Start(const fs::path& root, const fs::path& work, std::string* error) {
    const char* binary = "/usr/sbin/nginx";
    if (::access(binary, X_OK) != 0) return (*error = "nginx is not installed (make deps)", false);
    fs::create_directories(work / "logs");
    m_port = FreePort();
    const fs::path conf = work / "nginx.conf";
    std::ofstream out(conf);
    out << (geteuid() == 0 ? "user root;\n" : "") << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
        << "pid " << (work / "nginx.pid").string() << ";\nerror_log " << (work / "logs/error.log").string() << ";\n"
        << "events { worker_connections 64; }\nhttp {\n  access_log off;\n"
        << "  client_body_temp_path " << (work / "body").string() << ";\n"
        << "  proxy_temp_path " << (work / "proxy").string() << ";\n"
        << "  fastcgi_temp_path " << (work / "fastcgi").string() << ";\n"
        << "  uwsgi_temp_path " << (work / "uwsgi").string() << ";\n"
        << "  scgi_temp_path " << (work / "scgi").string() << ";\n"
        << "  default_type application/octet-stream;\n  sendfile on;\n"
        << "  server {\n    listen 127.0.0.1:" << m_port << ";\n    root " << root.string() << ";\n"
        << "    location /packages/slow/ { limit_rate 64k; }\n  }\n}\n";
    out.close();
    const std::string prefix = work.string() + "/", confText = conf.string();
    char* argv[] = {const_cast<char*>(binary), const_cast<char*>("-p"), const_cast<char*>(prefix.c_str()),
                    const_cast<char*>("-c"), const_cast<char*>(confText.c_str()), nullptr};
    if (posix_spawn(&m_pid, binary, nullptr, nullptr, argv, environ) != 0) return (*error = "cannot start nginx", false);
    // nginx says nothing when it is ready; it is once it accepts connections.
    for (int i = 0; i < 1000; ++i) {
        if (CanConnect(m_port)) return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return (*error = "nginx exited; see " + (work / "logs/error.log").string(), false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return (*error = "nginx did not start listening", false);
}

void CNginx::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

bool CKvaServe::Start(const fs::path& root, const std::string& fault, std::string* error) {
    int out[2];
    if (::pipe(out) != 0) return (*error = "pipe", false);
    const std::string binary = BinaryPath("kva").string(), rootText = root.string(), faultArg = "--fault=" + fault;
    std::vector<char*> argv = {const_cast<char*>(binary.c_str()), const_cast<char*>("serve"),
                               const_cast<char*>(rootText.c_str())};
    if (!fault.empty()) argv.push_back(const_cast<char*>(faultArg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const int rc = posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return (*error = "cannot start " + binary, false);
    }
    // The first line names the URL: "serving <folder> on http://127.0.0.1:<port>".
    std::string line;
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 30000) > 0 && ::read(out[0], &c, 1) == 1) line += c;
    ::close(out[0]);
    const auto at = line.find("http://");
    if (at == std::string::npos) {
        Stop();
        return (*error = "kva serve said: " + line, false);
    }
    m_url = line.substr(at, line.find('\n') - at);
    return true;
}

int CKvaServe::Stop() {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void CDownloadWatch::Bind(const std::string& id, int type) {
    auto end = [this](bool DownloadResult::*flag) {
        return [this, flag](_DownloadCbParam p) {
            std::lock_guard lock(m_mutex);
            m_result.*flag = true;
            m_result.success = p.success;
            m_result.errorCode = p.errorCode;
            m_result.installPath = p.strInstallPath;
            m_ended = true;
            m_cv.notify_all();
        };
    };
    auto progress = [this](_DownloadCbParam p) {
        std::lock_guard lock(m_mutex);
        m_result.lastPercent = p.cbValue1;
        m_cv.notify_all();
    };
    CDriverDownloadManager::GetInstance()->FuncBind(id, type, progress, end(&DownloadResult::finished),
                                                    end(&DownloadResult::failed), end(&DownloadResult::cancelled));
}

bool CDownloadWatch::WaitEnd(std::chrono::seconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [this] { return m_ended; });
}

bool CDownloadWatch::WaitProgress(int percent, std::chrono::seconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_result.lastPercent >= percent || m_ended; });
}

DownloadResult CDownloadWatch::Result() {
    std::lock_guard lock(m_mutex);
    return m_result;
}

const std::string& CServiceTest::PrivateKey() {
    static const std::string pem = [] {
        std::string priv, pub;
        GenerateMakerKey(&priv, &pub);
        return priv;
    }();
    return pem;
}

std::string CServiceTest::PublicKey() { return MakerPublicKey(PrivateKey()); }

void CServiceTest::SetUp() {
    CTestMachine::SetUp();
    m_folder = State() / "service";
    fs::create_directories(m_folder);
    CDriverDownloadManager::GetInstance()->Restart();
}

void CServiceTest::TearDown() {
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->WaitAllIdle(std::chrono::seconds(60)));
    if (m_server) m_server->Stop();
    if (m_kvaServe) m_kvaServe->Stop();
    if (m_nginx) m_nginx->Stop();
    CTestMachine::TearDown();
}

void CServiceTest::Configure(const std::string& url, const std::string& publicKey) {
    const auto file = CCommonCfgMgr::FilePath();
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "<commoncfg><UpdateService url=\"" << url << "\" publicKey=\"" << publicKey
                        << "\"/></commoncfg>\n";
}

bool CServiceTest::Serve(Backend backend, const std::string& fault) {
    std::string error;
    m_backend = backend;
    switch (backend) {
        case Backend::File:
            m_url = "file://" + m_folder.string();
            break;
        case Backend::Server: {
            m_server = std::make_unique<CUpdateServer>();
            ServeFault f;
            if (!f.Parse(fault) || !m_server->Start(m_folder, 0, f, &error)) {
                ADD_FAILURE() << error;
                return false;
            }
            m_url = m_server->Url();
            break;
        }
        case Backend::KvaServe:
            m_kvaServe = std::make_unique<CKvaServe>();
            if (!m_kvaServe->Start(m_folder, fault, &error)) {
                ADD_FAILURE() << error;
                return false;
            }
            m_url = m_kvaServe->Url();
            break;
        case Backend::Nginx:
            m_nginx = std::make_unique<CNginx>();
            if (!m_nginx->Start(m_folder, State() / "nginx", &error)) {
                ADD_FAILURE() << error;
                return false;
            }
            m_url = m_nginx->Url();
            break;
    }
    Configure(m_url, PublicKey());
    return true;
}

void CServiceTest::SetFault(const std::string& fault) {
    ServeFault f;
    ASSERT_TRUE(f.Parse(fault));
    if (m_backend == Backend::KvaServe) {
        m_kvaServe->Stop();
        ASSERT_TRUE(Serve(Backend::KvaServe, fault));
        return;
    }
    ASSERT_TRUE(m_server) << "faults need our server";
    m_server->SetFault(f);
}

download_param CServiceTest::RequestFor(const _TOBEUPDATE_DRIVER_INFO& info, int type) {
    download_param p;
    p.strUrl = info.versionInfo.strUrl;
    p.FileSize = info.versionInfo.FileSize;
    p.strDriverID = info.strDriverID;
    p.strFilepath = GetDownloadPath(info.strDriverID, info.versionInfo.strNextVersion, 1, 1) + "\\update.zip";
    p.strDriverName = info.strDriverName;
    p.strNextVersion = info.versionInfo.strNextVersion;
    p.strNextVersionID = info.versionInfo.strNextVersionID;
    p.strHashAlgo = info.hashInfo.strHashAlgo;
    p.strHash = info.hashInfo.strHash;
    p.upateType = type;
    p.Uid = -1;
    return p;
}

DownloadResult CServiceTest::Download(const download_param& param) {
    auto* mgr = CDriverDownloadManager::GetInstance();
    CDownloadWatch watch;
    EXPECT_TRUE(mgr->Init(param));
    watch.Bind(param.strDriverID, param.upateType);
    EXPECT_TRUE(mgr->BeginDownload(param.strDriverID, param.upateType));
    EXPECT_TRUE(watch.WaitEnd()) << "download of " << param.strDriverID << " did not end";
    EXPECT_TRUE(mgr->WaitAllIdle(std::chrono::seconds(30)));
    return watch.Result();
}

}  // namespace kvatest
