#include "KVADownload/DriverDownloadManager.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <atomic>
#include <nlohmann/json.hpp>

#include "Fetch.h"
#include "Internal.h"
#include "KVADownload/Folders.h"
#include "KVADownload/ZipArchive.h"
#include "Util/Ed25519.h"
#include "kva/platform/File.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Power.h"
#include "kva/platform/Text.h"

namespace fs = std::filesystem;

struct CDriverDownloadManager::Job {
    download_param param;
    int type = 0;
    DownloadCallback progress, finish, error, cancel, extra;
    std::thread thread;
    bool running = false;  // guarded by the manager's mutex
    std::atomic<bool> cancelled{false};
    std::atomic<bool> notifyCancel{true};
    plat::CEvent cancelEvent;
    std::mutex multiMutex;
    CURLM* multi = nullptr;  // guarded by multiMutex; set while a transfer runs
};

namespace {

constexpr int kMaxFailuresWithoutProgress = 4;
constexpr const char* kMarkerFile = "download.json";
constexpr const char* kUnpackFolder = "package";

enum class Ending { Success, Failure, Cancelled };

struct Outcome {
    Ending ending = Ending::Failure;
    DownloadError code = DOWNLOAD_ERROR_NONE;
    std::string reason;
    std::string installPath;  // Windows path
};

Outcome Fail(DownloadError code, std::string reason) { return {Ending::Failure, code, std::move(reason), {}}; }

// The request's target as a host path, when it names "<download root>\\<safe>\\<safe>".
bool TargetOf(const download_param& p, fs::path* target) {
    if (!IsSafePathPart(p.strDriverID) || p.strDriverID.find('_') != std::string::npos) return false;
    const std::string root = GetAppDataFolder() + GetUpdateFolder(2, 0) + "\\";
    if (p.strFilepath.size() <= root.size() || !plat::EqualsNoCase(p.strFilepath.substr(0, root.size()), root))
        return false;
    const std::string rest = p.strFilepath.substr(root.size());
    const auto sep = rest.find('\\');
    if (sep == std::string::npos || !IsSafePathPart(rest.substr(0, sep)) || !IsSafePathPart(rest.substr(sep + 1)))
        return false;
    *target = plat::ToHostPath(p.strFilepath);
    return true;
}

bool IsSha256(const std::string& algo) { return plat::EqualsNoCase(algo, "SHA256") || plat::EqualsNoCase(algo, "SHA-256"); }

// One package transfer: the part file, the running hash and the attempts.
class CTransfer {
public:
    CTransfer(CDriverDownloadManager::Job& job, const plat::CEvent& shutdown) : m_job(job), m_shutdown(shutdown) {}
    ~CTransfer() { EVP_MD_CTX_free(m_sha); }

    Outcome Execute();

private:
    Outcome Prepare();
    bool ResetHash();
    bool HashExisting();
    // One request from m_offset. Fills m_curlResult and m_status.
    void Attempt();
    Outcome Complete();
    static size_t OnData(char* data, size_t size, size_t count, void* self);
    size_t Write(const char* data, size_t n);

    CDriverDownloadManager::Job& m_job;
    const plat::CEvent& m_shutdown;
    fs::path m_target, m_part;
    std::string m_url;
    plat::CFile m_file;
    EVP_MD_CTX* m_sha = nullptr;
    std::uint64_t m_offset = 0;
    std::uint64_t m_expected = 0;
    CURLcode m_curlResult = CURLE_OK;
    long m_status = 0;
    bool m_oversize = false;
    plat::FileError m_writeError = plat::FileError::None;
    int m_lastPercent = -1;
    std::string m_curlError;
};

bool CTransfer::ResetHash() {
    if (!m_sha) m_sha = EVP_MD_CTX_new();
    return m_sha && EVP_DigestInit_ex(m_sha, EVP_sha256(), nullptr) == 1;
}

bool CTransfer::HashExisting() {
    std::vector<char> buf(1 << 20);
    std::uint64_t done = 0;
    while (done < m_offset) {
        const long n = m_file.ReadAt(buf.data(), std::min<std::uint64_t>(buf.size(), m_offset - done), done);
        if (n <= 0) return false;
        EVP_DigestUpdate(m_sha, buf.data(), static_cast<std::size_t>(n));
        done += static_cast<std::uint64_t>(n);
    }
    return true;
}

Outcome CTransfer::Prepare() {
    const auto& p = m_job.param;
    if (!TargetOf(p, &m_target)) return Fail(DOWNLOAD_ERROR_BAD_REQUEST, "unsafe target path " + p.strFilepath);
    const std::string base = kvadl::LoadServiceConfig().url;
    if (p.strUrl.empty() || (base.empty() && p.strUrl.find("://") == std::string::npos))
        return Fail(DOWNLOAD_ERROR_BAD_REQUEST, "no package URL");
    m_url = kvadl::ResolveUrl(base, p.strUrl);
    const bool okScheme = m_url.rfind("http://", 0) == 0 || m_url.rfind("https://", 0) == 0 || m_url.rfind("file://", 0) == 0;
    if (!okScheme) return Fail(DOWNLOAD_ERROR_BAD_REQUEST, "unsupported package URL " + m_url);
    if (!p.strHashAlgo.empty() && !IsSha256(p.strHashAlgo))
        return Fail(DOWNLOAD_ERROR_HASH, "unsupported hash algorithm " + p.strHashAlgo);
    m_expected = p.FileSize;
    const fs::path folder = m_target.parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    // A finished download of an earlier request must not pass for this one.
    fs::remove(folder / kMarkerFile, ec);
    fs::remove(m_target, ec);
    fs::remove_all(folder / kUnpackFolder, ec);
    m_part = m_target;
    m_part += ".part";
    if (!m_file.Open(m_part, true))
        return Fail(DOWNLOAD_ERROR_WRITE, "cannot open " + m_part.string() + ": " + m_file.LastErrorText());
    m_offset = m_file.Size();
    if (m_expected > 0 && m_offset > m_expected) {
        if (!m_file.Truncate()) return Fail(DOWNLOAD_ERROR_WRITE, "cannot truncate " + m_part.string());
        m_offset = 0;
    }
    if (!ResetHash() || !HashExisting()) return Fail(DOWNLOAD_ERROR_WRITE, "cannot read back " + m_part.string());
    std::uint64_t freeBytes = 0;
    if (m_expected > m_offset && plat::GetDiskFreeSpace(plat::ToWindowsPath(folder), &freeBytes) &&
        freeBytes < m_expected - m_offset)
        return Fail(DOWNLOAD_ERROR_DISK_FULL, "not enough disk space: need " + std::to_string(m_expected - m_offset) +
                                                  " bytes, " + std::to_string(freeBytes) + " free");
    if (m_offset > 0) KVA_LOG_WARN("resuming download of driver id " << p.strDriverID << " at byte " << m_offset);
    return {Ending::Success, DOWNLOAD_ERROR_NONE, {}, {}};
}

size_t CTransfer::OnData(char* data, size_t size, size_t count, void* self) {
    return static_cast<CTransfer*>(self)->Write(data, size * count);
}

size_t CTransfer::Write(const char* data, size_t n) {
    if (m_job.cancelled.load(std::memory_order_relaxed)) return 0;
    if (m_expected > 0 && m_offset + n > m_expected) {
        m_oversize = true;  // endless or wrong data: stop before it reaches the disk
        return 0;
    }
    if (!m_file.WriteAll(data, n)) {
        m_writeError = m_file.LastError();
        return 0;
    }
    EVP_DigestUpdate(m_sha, data, n);
    m_offset += n;
    if (m_job.progress && m_expected > 0) {
        const int percent = static_cast<int>(m_offset * 100 / m_expected);
        if (percent != m_lastPercent) {
            m_lastPercent = percent;
            _DownloadCbParam cb;
            cb.strDriverID = m_job.param.strDriverID;
            cb.cbValue1 = percent;
            m_job.progress(cb);
        }
    }
    return n;
}

void CTransfer::Attempt() {
    char errbuf[CURL_ERROR_SIZE] = {};
    kvadl::CurlHandle easy = kvadl::NewTransfer(m_url, errbuf, 30000L);
    std::unique_ptr<CURLM, CURLMcode (*)(CURLM*)> multi(curl_multi_init(), curl_multi_cleanup);
    m_curlResult = CURLE_FAILED_INIT;
    m_status = 0;
    if (!easy || !multi) return;
    CURL* h = easy.get();
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CTransfer::OnData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    const std::string range = std::to_string(m_offset) + "-";
    if (m_offset > 0) curl_easy_setopt(h, CURLOPT_RANGE, range.c_str());
    curl_multi_add_handle(multi.get(), h);
    {
        std::lock_guard lock(m_job.multiMutex);
        m_job.multi = multi.get();
    }
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
        if (running) curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        if (m_job.cancelled.load()) break;
    }
    {
        std::lock_guard lock(m_job.multiMutex);
        m_job.multi = nullptr;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left))
        if (msg->msg == CURLMSG_DONE) m_curlResult = msg->data.result;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &m_status);
    m_curlError = *errbuf ? errbuf : curl_easy_strerror(m_curlResult);
    curl_multi_remove_handle(multi.get(), h);
}

Outcome CTransfer::Execute() {
    Outcome prep = Prepare();
    if (prep.ending != Ending::Success) return prep;
    const std::string& id = m_job.param.strDriverID;
    int failures = 0;
    for (;;) {
        if (m_expected > 0 && m_offset == m_expected) return Complete();
        const std::uint64_t before = m_offset;
        const std::uint64_t startedAt = m_offset;
        Attempt();
        if (m_job.cancelled.load()) return {Ending::Cancelled, DOWNLOAD_ERROR_NONE, "cancelled", {}};
        if (m_oversize)
            return Fail(DOWNLOAD_ERROR_OVERSIZE, "server sent more than the announced " + std::to_string(m_expected) + " bytes");
        if (m_writeError != plat::FileError::None)
            return Fail(m_writeError == plat::FileError::DiskFull ? DOWNLOAD_ERROR_DISK_FULL : DOWNLOAD_ERROR_WRITE,
                        "cannot write the package: " + m_file.LastErrorText());
        // A server that ignores the range answers 200 with the whole file: start over.
        if (startedAt > 0 && m_status == 200 && m_curlResult == CURLE_OK) {
            KVA_LOG_WARN("server ignored the range for driver id " << id << ", starting over");
            if (!m_file.Truncate() || !ResetHash())
                return Fail(DOWNLOAD_ERROR_WRITE, "cannot restart " + m_part.string());
            m_offset = 0;
            continue;
        }
        if (m_curlResult == CURLE_OK && (m_expected == 0 || m_offset == m_expected)) return Complete();
        if (m_status == 416 && m_expected > 0 && m_offset == m_expected) return Complete();
        if (m_status >= 400 && m_status < 500 && m_status != 416 && m_status != 408 && m_status != 429)
            return Fail(DOWNLOAD_ERROR_NETWORK, "HTTP status " + std::to_string(m_status) + " for " + m_url);
        if (m_offset > before) {
            failures = 0;  // progress: the connection dropped, resume at once
            KVA_LOG_WARN("download of driver id " << id << " interrupted at byte " << m_offset << " ("
                                                  << m_curlError << "), resuming");
            continue;
        }
        if (++failures > kMaxFailuresWithoutProgress) {
            if (m_expected > 0 && m_offset > 0 && m_offset < m_expected)
                return Fail(DOWNLOAD_ERROR_TRUNCATED, "got " + std::to_string(m_offset) + " of " +
                                                          std::to_string(m_expected) + " bytes: " + m_curlError);
            return Fail(DOWNLOAD_ERROR_NETWORK, "cannot fetch " + m_url + ": " + m_curlError);
        }
        const std::uint32_t backoff = 1000u << (failures - 1);
        if (plat::CClock::Get().Wait({&m_job.cancelEvent, &m_shutdown}, backoff) == plat::WaitResult::Signaled)
            return {Ending::Cancelled, DOWNLOAD_ERROR_NONE, "cancelled", {}};
    }
}

Outcome CTransfer::Complete() {
    const auto& p = m_job.param;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    EVP_DigestFinal_ex(m_sha, digest, &len);
    const std::string got = kvasig::HexEncode(digest, len);
    m_file.Close();
    std::error_code ec;
    if (!p.strHash.empty() && !plat::EqualsNoCase(got, p.strHash)) {
        fs::remove(m_part, ec);
        return Fail(DOWNLOAD_ERROR_HASH, "hash mismatch: expected " + p.strHash + ", got " + got);
    }
    if (p.strHash.empty()) KVA_LOG_WARN("package of driver id " << p.strDriverID << " carries no hash, not checked");
    fs::rename(m_part, m_target, ec);
    if (ec) return Fail(DOWNLOAD_ERROR_WRITE, "cannot rename " + m_part.string() + ": " + ec.message());
    const fs::path folder = m_target.parent_path();
    fs::path installer = m_target;
    if (IsZipArchive(m_target)) {
        std::vector<std::string> names;
        std::string error;
        const fs::path dest = folder / kUnpackFolder;
        if (!ExtractZipArchive(m_target, dest, &names, &error)) {
            fs::remove_all(dest, ec);
            fs::remove(m_target, ec);
            return Fail(DOWNLOAD_ERROR_UNPACK, "cannot unpack: " + error);
        }
        std::vector<std::string> top;
        installer.clear();
        for (const auto& n : names) {
            if (n.find('/') != std::string::npos) continue;
            top.push_back(n);
            if (plat::EqualsNoCase(n, "setup.exe")) installer = dest / n;
        }
        if (installer.empty() && top.size() == 1) installer = dest / top.front();
        if (installer.empty()) {
            fs::remove_all(dest, ec);
            fs::remove(m_target, ec);
            return Fail(DOWNLOAD_ERROR_UNPACK, "package holds no installer");
        }
    }
    const std::string windowsInstaller = plat::ToWindowsPath(installer);
    const nlohmann::json marker = {{"id", p.strDriverID}, {"version", p.strNextVersion}, {"hash", got},
                                   {"size", m_offset}, {"installer", windowsInstaller}};
    if (!kvadl::WriteFileAtomic(folder / kMarkerFile, marker.dump()))
        return Fail(DOWNLOAD_ERROR_WRITE, "cannot record the finished download");
    return {Ending::Success, DOWNLOAD_ERROR_NONE, {}, windowsInstaller};
}

}  // namespace

CDriverDownloadManager* CDriverDownloadManager::GetInstance() {
    static CDriverDownloadManager instance;
    return &instance;
}

CDriverDownloadManager::CDriverDownloadManager() { kvadl::EnsureCurlGlobal(); }

CDriverDownloadManager::~CDriverDownloadManager() { Shutdown(); }

void CDriverDownloadManager::SetIpcClient(CIPCMessageClient* client) {
    std::lock_guard lock(m_mutex);
    m_ipcClient = client;
}

CIPCMessageClient* CDriverDownloadManager::IpcClient() const {
    std::lock_guard lock(m_mutex);
    return m_ipcClient;
}

std::string CDriverDownloadManager::GetInstallFilePath(const download_param& param) {
    fs::path target;
    if (!TargetOf(param, &target)) {
        KVA_LOG_ERROR("refused unsafe download request, driver id " << param.strDriverID << " path " << param.strFilepath);
        return {};
    }
    if (IsDownloading(param.strDriverID)) return {};
    const auto text = kvadl::ReadFile(target.parent_path() / kMarkerFile, 64 * 1024);
    if (!text) return {};
    const auto marker = nlohmann::json::parse(*text, nullptr, false);
    if (!marker.is_object() || !marker.value("hash", std::string()).size()) return {};
    if (!param.strHash.empty() && !plat::EqualsNoCase(marker.value("hash", std::string()), param.strHash)) return {};
    const std::string installer = marker.value("installer", std::string());
    std::error_code ec;
    if (installer.empty() || !fs::is_regular_file(plat::ToHostPath(installer), ec)) return {};
    return installer;
}

bool CDriverDownloadManager::Init(const download_param& param) {
    fs::path target;
    if (!TargetOf(param, &target) || (!param.strNextVersion.empty() && !IsSafePathPart(param.strNextVersion))) {
        KVA_LOG_ERROR("refused unsafe download request, driver id " << param.strDriverID << " path " << param.strFilepath);
        return false;
    }
    std::lock_guard lock(m_mutex);
    auto& job = m_jobs[param.strDriverID];
    if (job && job->running) {
        KVA_LOG_ERROR("download of driver id " << param.strDriverID << " is running, request not replaced");
        return false;
    }
    auto fresh = std::make_shared<Job>();
    fresh->param = param;
    if (job) {  // keep callbacks bound before Init
        fresh->progress = job->progress;
        fresh->finish = job->finish;
        fresh->error = job->error;
        fresh->cancel = job->cancel;
        fresh->extra = job->extra;
    }
    job = fresh;
    return true;
}

bool CDriverDownloadManager::FuncBind(const std::string& id, int type, DownloadCallback progress,
                                      DownloadCallback finish, DownloadCallback error, DownloadCallback cancel,
                                      DownloadCallback extra) {
    std::lock_guard lock(m_mutex);
    auto it = m_jobs.find(id);
    if (it == m_jobs.end() || it->second->running) return false;
    Job& job = *it->second;
    job.type = type;
    job.progress = std::move(progress);
    job.finish = std::move(finish);
    job.error = std::move(error);
    job.cancel = std::move(cancel);
    job.extra = std::move(extra);
    return true;
}

bool CDriverDownloadManager::BeginDownload(const std::string& id, int type) {
    ReapFinished();
    std::lock_guard lock(m_mutex);
    if (m_stopped) return false;
    auto it = m_jobs.find(id);
    if (it == m_jobs.end()) {
        KVA_LOG_ERROR("no download request for driver id " << id);
        return false;
    }
    auto job = it->second;
    if (job->running) {
        KVA_LOG_ERROR("download of driver id " << id << " is already running");
        return false;
    }
    job->type = type;
    job->running = true;
    job->cancelled = false;
    job->cancelEvent.Reset();
    job->thread = std::thread(&CDriverDownloadManager::Run, this, job);
    KVA_LOG_WARN("download of driver id " << id << " started, type " << type);
    return true;
}

bool CDriverDownloadManager::CancelDownload(const std::string& id, int notify) {
    std::lock_guard lock(m_mutex);
    auto it = m_jobs.find(id);
    if (it == m_jobs.end() || !it->second->running) return false;
    Job& job = *it->second;
    job.notifyCancel = notify != 0;
    job.cancelled = true;
    job.cancelEvent.Set();
    std::lock_guard multiLock(job.multiMutex);
    if (job.multi) curl_multi_wakeup(job.multi);
    return true;
}

bool CDriverDownloadManager::IsDownloading(const std::string& id) {
    std::lock_guard lock(m_mutex);
    auto it = m_jobs.find(id);
    return it != m_jobs.end() && it->second->running;
}

void CDriverDownloadManager::Run(std::shared_ptr<Job> job) {
    Outcome out;
    {
        CTransfer transfer(*job, m_shutdown);
        out = transfer.Execute();
    }
    const std::string& id = job->param.strDriverID;
    _DownloadCbParam cb;
    cb.strDriverID = id;
    cb.cbValue2 = true;
    switch (out.ending) {
        case Ending::Success:
            KVA_LOG_WARN("download of driver id " << id << " finished, installer " << out.installPath);
            cb.success = true;
            cb.strInstallPath = out.installPath;
            cb.cbValue1 = 100;
            if (job->finish) job->finish(cb);
            break;
        case Ending::Failure: {
            KVA_LOG_ERROR("download of driver id " << id << " failed: " << out.reason);
            fs::path target;
            std::error_code ec;
            // A part that can still be completed (network, space) stays for the next attempt.
            const bool resumable = out.code == DOWNLOAD_ERROR_NETWORK || out.code == DOWNLOAD_ERROR_TRUNCATED ||
                                   out.code == DOWNLOAD_ERROR_DISK_FULL;
            if (!resumable && TargetOf(job->param, &target)) fs::remove(target.string() + ".part", ec);
            cb.errorCode = out.code;
            if (job->error) job->error(cb);
            else if (job->finish) job->finish(cb);
            break;
        }
        case Ending::Cancelled: {
            KVA_LOG_WARN("download of driver id " << id << " cancelled");
            fs::path target;
            std::error_code ec;
            if (TargetOf(job->param, &target)) fs::remove(target.string() + ".part", ec);
            if (job->cancel && job->notifyCancel) job->cancel(cb);
            break;
        }
    }
    std::lock_guard lock(m_mutex);
    job->running = false;
    m_finished.push_back(std::move(job->thread));
    m_idle.notify_all();
}

void CDriverDownloadManager::ReapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(m_mutex);
        done.swap(m_finished);
    }
    for (auto& t : done) {
        if (t.get_id() == std::this_thread::get_id()) t.detach();  // a callback of this very thread
        else if (t.joinable()) t.join();
    }
}

bool CDriverDownloadManager::AnyRunning() const {
    for (const auto& [id, job] : m_jobs)
        if (job->running) return true;
    return false;
}

bool CDriverDownloadManager::WaitAllIdle(std::chrono::milliseconds timeout) {
    bool idle;
    {
        std::unique_lock lock(m_mutex);
        idle = m_idle.wait_for(lock, timeout, [this]() KVA_REQUIRES(m_mutex) { return !AnyRunning(); });
    }
    ReapFinished();
    return idle;
}

void CDriverDownloadManager::Shutdown() {
    std::vector<std::string> running;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        for (const auto& [id, job] : m_jobs)
            if (job->running) running.push_back(id);
    }
    m_shutdown.Set();
    for (const auto& id : running) CancelDownload(id, 1);
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this]() KVA_REQUIRES(m_mutex) { return !AnyRunning(); });
    // The callbacks belong to the library that is about to unload; kept until this static's
    // destructor at exit, they would be destroyed through code that is gone.
    std::map<std::string, std::shared_ptr<Job>> forgotten;
    forgotten.swap(m_jobs);
    lock.unlock();
    ReapFinished();
}

void CDriverDownloadManager::Restart() {
    std::lock_guard lock(m_mutex);
    m_stopped = false;
    m_shutdown.Reset();
}
