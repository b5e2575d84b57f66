// The process-wide download manager: package downloads on the library's own threads.
//
// A download is started in this order: GetInstallFilePath (skip when it answers a path), Init,
// FuncBind, BeginDownload. Each runs on its own thread, streams the package to
// "<target>.part" while hashing it (SHA-256), resumes with an HTTP range after a dropped
// connection, never reads past the announced size, and only when the hash matches renames it to
// the target ("...\\update.zip"), unpacks it when it is an archive and reports the installer's
// path: the archive's "setup.exe" (any case) when present, else its only top-level file; a package
// that is not an archive is its own installer.
//
// Callbacks run on the download's thread with no lock of the manager held, so they may call the
// manager again (but a download counts as running until its callback returns, so a callback
// cannot restart its own package, and must never call Shutdown). On success the finish callback gets success = true and the installer path; on
// failure the error callback gets errorCode (DownloadError) when one is bound, else the finish
// callback gets success = false; a cancel ends in the cancel callback. Nothing half-written is
// left under the target's name. Progress callbacks get the percentage in cbValue1.
//
// Shutdown (also run by the destructor) cancels every download and joins every thread; it is
// called explicitly before the library that bound callbacks goes away.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KVADownload/UpdateInfo.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Mutex.h"

class CIPCMessageClient;

using DownloadCallback = std::function<void(_DownloadCbParam)>;

enum DownloadError : std::int32_t {
    DOWNLOAD_ERROR_NONE = 0,
    DOWNLOAD_ERROR_BAD_REQUEST = 1,   // unsafe id or path, unsupported URL
    DOWNLOAD_ERROR_NETWORK = 2,       // no answer, HTTP error, gave up after retries
    DOWNLOAD_ERROR_TRUNCATED = 3,     // fewer bytes than announced
    DOWNLOAD_ERROR_OVERSIZE = 4,      // more bytes than announced
    DOWNLOAD_ERROR_HASH = 5,          // hash mismatch or unknown algorithm
    DOWNLOAD_ERROR_DISK_FULL = 6,     // not enough space, or a write failed for lack of it
    DOWNLOAD_ERROR_WRITE = 7,         // another file-system failure
    DOWNLOAD_ERROR_UNPACK = 8,        // the archive could not be unpacked
};

class CDriverDownloadManager {
public:
    static CDriverDownloadManager* GetInstance();

    void SetIpcClient(CIPCMessageClient* client);
    CIPCMessageClient* IpcClient() const;

    // The installer of a completed, verified download of this request, or empty.
    std::string GetInstallFilePath(const download_param& param);
    // Registers the request (replacing one of the same id that is not running). False when its id,
    // version or target path is unsafe.
    bool Init(const download_param& param);
    bool FuncBind(const std::string& id, int type, DownloadCallback progress, DownloadCallback finish,
                  DownloadCallback error, DownloadCallback cancel, DownloadCallback extra = {});
    // Starts the registered download of `id` on its own thread. False when none is registered or
    // one of that id is still running.
    bool BeginDownload(const std::string& id, int type);
    // Stops the download of `id`; the cancel callback runs (notify != 0) on the download's thread.
    bool CancelDownload(const std::string& id, int notify);
    bool IsDownloading(const std::string& id);

    // Cancels everything, joins every thread and forgets every request with its callbacks; later
    // BeginDownload calls are refused. Also set
    // for the library's other waits (WaitForNetWork).
    void Shutdown();
    // Allows downloads again after Shutdown (tests reuse the process-wide manager).
    void Restart();
    const plat::CEvent& ShutdownEvent() const { return m_shutdown; }

    // Blocks until no download runs or the real time-out passes; for tests and tools.
    bool WaitAllIdle(std::chrono::milliseconds timeout);

    struct Job;

private:
    CDriverDownloadManager();
    ~CDriverDownloadManager();
    void Run(std::shared_ptr<Job> job);
    void ReapFinished();
    bool AnyRunning() const KVA_REQUIRES(m_mutex);

    mutable plat::CMutex m_mutex;
    plat::CCondition m_idle;
    std::map<std::string, std::shared_ptr<Job>> m_jobs KVA_GUARDED_BY(m_mutex);
    std::vector<std::thread> m_finished KVA_GUARDED_BY(m_mutex);  // threads to join
    CIPCMessageClient* m_ipcClient KVA_GUARDED_BY(m_mutex) = nullptr;
    bool m_stopped KVA_GUARDED_BY(m_mutex) = false;
    plat::CEvent m_shutdown;
};
