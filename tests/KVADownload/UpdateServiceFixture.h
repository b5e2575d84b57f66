// A test machine with an update service of its own: a signed catalogue folder made by the test,
// served as file://, by the library's server in this process, by `kva serve` as a process, or by
// nginx, and the machine's configuration pointing at it.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "ServeKit/CatalogueMaker.h"
#include "ServeKit/Nginx.h"
#include "KVADownload/DriverDownloadManager.h"
#include "ServeKit/UpdateServer.h"
#include "TestMachine.h"
#include "kva/platform/Process.h"

namespace kvatest {

enum class Backend { File, Server, KvaServe, Nginx };
std::string BackendName(Backend b);

// `kva serve` as a child process.
class CKvaServe {
public:
    bool Start(const std::filesystem::path& root, const std::string& fault, std::string* error);
    // Asks it to stop and waits; the exit status (0 for a clean stop).
    int Stop() { return m_child.Stop(); }
    const std::string& Url() const { return m_url; }

private:
    plat::CChildProcess m_child;
    std::string m_url;
};

// What one download reported through its callbacks.
struct DownloadResult {
    bool finished = false, failed = false, cancelled = false, success = false;
    int errorCode = 0;
    std::string installPath;
    int lastPercent = -1;
};

class CDownloadWatch {
public:
    // Init, FuncBind to this watch and BeginDownload; false when the manager refused.
    bool Start(const download_param& param);
    // Waits (real time) until the download ended; false on time-out.
    bool WaitEnd(std::chrono::seconds timeout = std::chrono::seconds(60));
    // Waits until progress reached `percent`.
    bool WaitProgress(int percent, std::chrono::seconds timeout = std::chrono::seconds(30));
    DownloadResult Result();

private:
    void Bind(const std::string& id, int type);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    DownloadResult m_result;
    bool m_ended = false;
};

class CUpdateServiceTest : public CTestMachine {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& Folder() const { return m_folder; }
    static const std::string& PrivateKey();
    static std::string PublicKey();
    // Points the machine's configuration at `url` with the given maker key (base64).
    void Configure(const std::string& url, const std::string& publicKey);
    // Serves Folder() with `backend` and configures the machine for it. False (with a reason in
    // the test log) when the backend cannot start.
    bool Serve(Backend backend, const std::string& fault = {});
    std::string Url() const { return m_url; }
    // Switches the fault of the in-process server, or restarts `kva serve` with it.
    void SetFault(const std::string& fault);

    // The request the service's download flows build for a package.
    static download_param RequestFor(const _TOBEUPDATE_DRIVER_INFO& info, int type);
    // Starts the download and waits for its end.
    DownloadResult Download(const download_param& param);

private:
    std::filesystem::path m_folder;
    std::string m_url;
    Backend m_backend = Backend::File;
    std::unique_ptr<CUpdateServer> m_server;
    std::unique_ptr<CKvaServe> m_kvaServe;
    std::unique_ptr<CNginx> m_nginx;
};

}  // namespace kvatest
