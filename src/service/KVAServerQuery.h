// CKVAServerQuery: the one object of the update service. It owns every piece of the service's
// state — its IPC endpoint, the package tables, the notice windows, the flags — and its threads.
//
// Threads: the host thread (StartKVAServerQuery), the query thread (OnTimeQueryThreadProc), the
// install thread (InstallDriverInOrder), the reporting thread, the UI thread of the window library
// (window work, queued with DuiLib::UIMainQueue::dispatch), the IPC library's threads (every
// OnRecv handler) and the download library's threads (download callbacks).
//
// Locks: m_mtxTables guards both package tables and the popup/skip/extra vectors; it is held only
// while an entry is looked up, walked or changed, never across an IPC send, a download start, a
// sleep or a UI task. m_mtxPackages serialises driver checks and is held through a check's retries,
// so no handler ever waits on it. The flags are atomics, each touched by one load or exchange.
//
// Every thread the object starts is owned and joined by the destructor, and every wait of those
// threads also ends on m_evStop, so destruction (unloading the library) never waits out a period.
// Member functions are defined in the folder of their subsystem.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IPCMessage/IPCMessageClient.h"
#include "KVADownload/UpdateInfo.h"
#include "driver_update/UpdateRecords.h"
#include "ipc/DownloadCbParam.h"
#include "ipc/IPCServer.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Types.h"

class UpdateTipsUI;
class KVASilentTipWnd;
class ForceUpRemindRestartManager;

#define KVA_EXPORT __attribute__((visibility("default")))

class KVA_EXPORT CKVAServerQuery {
public:
    using PackageTable = std::map<std::string, enmUPGRADE_DRIVER_INFO>;

    CKVAServerQuery();
    ~CKVAServerQuery();
    CKVAServerQuery(const CKVAServerQuery&) = delete;
    CKVAServerQuery& operator=(const CKVAServerQuery&) = delete;

    // ---- service/ : lifecycle and query loop --------------------------------------------------
    bool StartServerQuery();
    bool OnTimeQueryThreadProc();
    int IsNeedCheckDrvUpdate();
    bool IsCurrentBootStrap();
    emUpdateScene CheckUpdateScene();

    // ---- ipc/ : endpoint, dispatch and handlers --------------------------------------------------
    bool SendIPCMessage(int receiver, int messageId, int secondId, char* data, int length);
    bool SendMessageToMsgCenter(unsigned long long id);
    void OnRecvAppMgIPCMessage(tagIPC_MESSAGE_ITEM& item);
    void OnRecvAppMgCloseWinMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvSettingPopWindowMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvSettingCloseWinMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvSysState(tagIPC_MESSAGE_ITEM& item);
    void OnRecvAppManagerUIStatusMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvSynergyMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvQueryBIOS(tagIPC_MESSAGE_ITEM& item);
    void OnRecvGetFWVersion(tagIPC_MESSAGE_ITEM& item);
    void OnRecvCheckWinPE(tagIPC_MESSAGE_ITEM& item);

    // ---- driver_update/ : check, downloads, diagnose tool ----------------------------------------
    bool CheckSoftDriverVersion();
    void OnRecvDriverDownLoadMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvCancelDownload(const strDRIVER_DOWNLOAD_CB_PARAM& param);
    void OnRecvCheckDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item);
    void OnRecvDownloadDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item);

    // ---- install/ : install sequencing, setup dispatch, records, restart -----------------------
    void InstallDriverInOrder();
    void OnRecvInstallEnd(tagIPC_MESSAGE_ITEM& item);
    void OnRecvAppManagerUIInstallMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvPopRestartWnd(tagIPC_MESSAGE_ITEM& item);
    void InsertToFinishUpdateDB(const std::int64_t& size, const std::string& id, const std::string& fromVersion,
                                const std::string& toVersion);
    void UpdateDoctorDB(int left);
    bool SendDrvNumtoDoctor(int count);

    // ---- self_update/ : application check and notices -------------------------------------------
    bool CheckCorvellaVersion();
    void OnRecvUpdateXMLMsg(tagIPC_MESSAGE_ITEM& item);

    // ---- test and tool access --------------------------------------------------------------------
    // The stop signal every wait of the service's threads watches.
    const plat::CEvent& StopEvent() const { return m_evStop; }
    CIPCMessageClient& IpcClient() { return m_ipcClient; }
    // Copies of the tables, taken under their lock.
    PackageTable ForceTable();
    PackageTable IdleTable();

private:
    void Init();
    void RegisterIpcHandlers();
    void CreateNoticeWindows();
    void ReportQotaIdOnce();
    void ReportSettingsAtStart();
    void ReportFinishedAppUpgrade();
    void CleanEarlierDownloads();
    // Posts a reply to `request` under the common rule: back to its sender, from 0x50000, under its
    // message id, second id -1, its sync id copied.
    bool PostReply(const tagIPC_MESSAGE_ITEM& request, const char* payload, int length);

    // Members in the order the service has always kept them.
    report m_report;
    std::string m_strAppPackagePath;
    std::string m_strAppNextVersion;
    std::mutex m_mtxPackages;
    std::vector<_TOBEUPDATE_DRIVER_INFO> m_vecPopupDriver;
    std::vector<_TOBEUPDATE_DRIVER_INFO> m_vecSkipDriver;
    std::vector<_IGNORED_DRIVER_INFO> m_vecDriverExtra;
    PackageTable m_mapIdleDriver;
    PackageTable m_mapForceDriver;
    UpdateTipsUI* m_pUpdateTipsUI = nullptr;
    ForceUpRemindRestartManager* m_pRestartUI = nullptr;
    KVASilentTipWnd* m_pKVASilentTipWnd = nullptr;
    std::string m_strLastNextVersion;
    CIPCMessageClient m_ipcClient;
    CIPCServer m_ipcServer;
    std::atomic<bool> m_bStop{false};
    std::thread m_threadQuery;
    _TOBEUPDATE_DRIVER_INFO m_appUpdateInfo;
    std::atomic<bool> m_bAppSetupRunning{false};
    std::atomic<bool> m_bSilentDownloading{false};
    std::atomic<bool> m_IsFreeScene{true};
    std::atomic<bool> m_bRestartLevel1Found{false};
    std::atomic<bool> m_bRestartLevel2Found{false};
    std::atomic<bool> m_bIdleRestartFound{false};
    std::atomic<bool> m_bSourceComplete[2] = {true, true};
    std::atomic<bool> m_bSource2Complete{true};
    std::atomic<bool> m_bSynergyInUse{false};
    std::unique_ptr<plat::CEvent> m_hSynergyEvent;
    std::wstring m_strUserSettingKey;
    std::atomic<bool> m_bEnableUpdate{true};
    plat::HMODULE m_hDriverCurVersion = nullptr;

    // Ours: the one lock of the tables and vectors, the stop signal, and the threads that the
    // service once left detached, now owned and joined.
    std::mutex m_mtxTables;
    plat::CEvent m_evStop;
    std::thread m_threadInstall;
    std::thread m_threadReport;
};

extern "C" KVA_EXPORT bool StartKVAServerQuery();
