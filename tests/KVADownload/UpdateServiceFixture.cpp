#include "UpdateServiceFixture.h"

#include <fstream>
#include <thread>

#include "KVADownload/Catalogue.h"
#include "KVADownload/Folders.h"
#include "Util/CommonCfgMgr.h"
#include "driver_update/DownloadRequest.h"
#include "kva/platform/Clock.h"

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

bool CKvaServe::Start(const fs::path& root, const std::string& fault, std::string* error) {
    std::vector<std::string> args = {"serve", root.string()};
    if (!fault.empty()) args.push_back("--fault=" + fault);
    if (!m_child.Start(BinaryPath("kva"), args)) return (*error = "cannot start kva serve", false);
    // The first line names the URL: "serving <folder> on http://127.0.0.1:<port>".
    std::string line;
    m_child.ReadLine(&line, std::chrono::seconds(30));
    const auto at = line.find("http://");
    if (at == std::string::npos) {
        Stop();
        return (*error = "kva serve said: " + line, false);
    }
    m_url = line.substr(at);
    return true;
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

bool CDownloadWatch::Start(const download_param& param) {
    auto* mgr = CDriverDownloadManager::GetInstance();
    if (!mgr->Init(param)) return false;
    Bind(param.strDriverID, param.upateType);
    return mgr->BeginDownload(param.strDriverID, param.upateType);
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

const std::string& CUpdateServiceTest::PrivateKey() {
    static const std::string pem = [] {
        std::string priv, pub;
        GenerateMakerKey(&priv, &pub);
        return priv;
    }();
    return pem;
}

std::string CUpdateServiceTest::PublicKey() { return MakerPublicKey(PrivateKey()); }

void CUpdateServiceTest::SetUp() {
    CTestMachine::SetUp();
    m_folder = State() / "service";
    fs::create_directories(m_folder);
    CDriverDownloadManager::GetInstance()->Restart();
}

void CUpdateServiceTest::TearDown() {
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->WaitAllIdle(std::chrono::seconds(60)));
    if (m_server) m_server->Stop();
    if (m_kvaServe) m_kvaServe->Stop();
    if (m_nginx) m_nginx->Stop();
    CTestMachine::TearDown();
}

void CUpdateServiceTest::Configure(const std::string& url, const std::string& publicKey) {
    const auto file = CCommonCfgMgr::FilePath();
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "<commoncfg><UpdateService url=\"" << url << "\" publicKey=\"" << publicKey
                        << "\"/></commoncfg>\n";
}

bool CUpdateServiceTest::Serve(Backend backend, const std::string& fault) {
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
            if (!m_nginx->Start(m_folder, State() / "nginx", "location /packages/slow/ { limit_rate 64k; }", &error)) {
                ADD_FAILURE() << error;
                return false;
            }
            m_url = m_nginx->Url();
            break;
    }
    Configure(m_url, PublicKey());
    return true;
}

void CUpdateServiceTest::SetFault(const std::string& fault) {
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

download_param CUpdateServiceTest::RequestFor(const _TOBEUPDATE_DRIVER_INFO& info, int type) {
    return driver_update::MakeDownloadParam(info, type, info.strDriverID);
}

DownloadResult CUpdateServiceTest::Download(const download_param& param) {
    CDownloadWatch watch;
    EXPECT_TRUE(watch.Start(param));
    EXPECT_TRUE(watch.WaitEnd()) << "download of " << param.strDriverID << " did not end";
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->WaitAllIdle(std::chrono::seconds(30)));
    return watch.Result();
}

}  // namespace kvatest
