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
// so no handler ever waits on it. m_mtxSynergy guards only the event of a pending synergy
// question; m_mtxTablesView orders the writers of the tools' view of the tables. The flags are atomics, each touched by one load or exchange.
//
// Every thread the object starts is owned and joined by the destructor, and every wait of those
// threads also ends on m_evStop, so destruction (unloading the library) never waits out a period.
// Member functions are defined in the folder of their subsystem.
#pragma once

#include <atomic>
#include <functional>
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
#include "install/SerialWorker.h"
#include "ipc/IPCServer.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Mutex.h"
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
    // Asks synergy (0x150000) and waits up to 10000 ms of service time for its answer; false when
    // none comes, or the service stops first. Any thread but an IPC callback of this endpoint's own
    // answer.
    bool IsSynergyInUse();
    // Asks the application manager to show (0x50004) or close (0x50006) its driver pop-up.
    bool SendPopWindowsMsgToAppMg(bool show);
    // Asks the settings window (0x3A0000) to pop up the application-update question.
    bool SendPopWindowsMsgToSetting();
    void OnRecvGetFWVersion(tagIPC_MESSAGE_ITEM& item);
    void OnRecvCheckWinPE(tagIPC_MESSAGE_ITEM& item);

    // ---- driver_update/ : check, downloads, diagnose tool ----------------------------------------
    // Query thread. True when the check ended normally (also with nothing found).
    bool CheckSoftDriverVersion();
    void OnRecvDriverDownLoadMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvCancelDownload(const strDRIVER_DOWNLOAD_CB_PARAM& param);
    void OnRecvCheckDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item);
    void OnRecvDownloadDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item);
    // Starts the diagnose tool's download; its finish installs it and broadcasts 0xF0014.
    bool DownloadAndInstallDiagnoseAnalysis();
    void DiagnoseAnalysisDownloadFinish(_DownloadCbParam report);

    // The user's switches under m_strUserSettingKey: idle driver updates, silent application
    // updates, forced updates. Any thread.
    bool IsDriverSwitchOpen();
    bool IsAgreeSilentUpdate();
    bool IsUserSetForceUpdate();

    // Gates of every automatic download and install; they change nothing but `error`. Any thread.
    bool IsBatterySpaceOK(std::vector<_TOBEUPDATE_DRIVER_INFO> list, _DRIVER_UPDATE_TYPE type);
    bool IsMachineBatteryOk(bool lowThreshold);
    bool IsMachineFreeSpaceOK(std::uint64_t reserveBytes);
    bool CheckDepend(const std::string& driverId);  // true: a dependency is not installed yet
    bool CheckWLAN(const std::string& driverId);    // true: a network driver must wait
    bool CheckManualState(UpdaterManager::enmUPDATER_ERROR_TYPE& error);

    // Download flows. Each returns once the download library accepted (or refused) the start.
    void CheckDownLoad(std::vector<_TOBEUPDATE_DRIVER_INFO> list, _DRIVER_UPDATE_TYPE type);
    void UpdateDriver(const std::vector<_TOBEUPDATE_DRIVER_INFO>& list, _DRIVER_UPDATE_TYPE type);
    void ForceDownLoad(const _TOBEUPDATE_DRIVER_INFO& record);
    void IdleDownLoad(const _TOBEUPDATE_DRIVER_INFO& record);
    void SilentDownload(_TOBEUPDATE_DRIVER_INFO& record, int type);
    void ContinueDownLoad();
    void SetDownloadParam(_TOBEUPDATE_DRIVER_INFO record, download_param& request, std::string& installer);

    // Download callbacks, on the download library's threads.
    void FinishDownDCB(_DownloadCbParam report);
    void ErrorDownDCB(_DownloadCbParam report);
    void DoingDownDCB(_DownloadCbParam report);
    void CancelDownDCB(_DownloadCbParam report);
    void ForceDowningCallBack(_DownloadCbParam report);
    void ForceDownOverCallBack(_DownloadCbParam report);
    void ForceDownErrCallBack(_DownloadCbParam report);
    void ForceDownCleCallBack(_DownloadCbParam report);
    void IdleDowningCallBack(_DownloadCbParam report);
    void IdleDownOverCallBack(_DownloadCbParam report);
    void IdleDownErrCallBack(_DownloadCbParam report);
    void IdleDownCleCallBack(_DownloadCbParam report);

    // The sorting step of the check on its own (the benchmark measures it apart from the fetch):
    // records every package in the tables, the notice and skip lists, and returns what is to be
    // downloaded forced and idle.
    struct CSortedPackages {
        std::vector<_TOBEUPDATE_DRIVER_INFO> forced;
        std::vector<_TOBEUPDATE_DRIVER_INFO> idle;
    };
    CSortedPackages SortDriverPackages(const std::vector<_TOBEUPDATE_DRIVER_INFO>& packages);
    void SortForcedPackage(const _TOBEUPDATE_DRIVER_INFO& r, CSortedPackages& sorted);
    void SortIdlePackage(const _TOBEUPDATE_DRIVER_INFO& r, CSortedPackages& sorted);

    // ---- install/ : install sequencing, setup dispatch, records, restart -----------------------
    // Install thread: one pass every 120 s, forced table then idle table, until the service stops.
    void InstallDriverInOrder();
    // Starts the install thread once (the query thread does after its start delay; tests earlier).
    void StartInstallThread();
    // Installs one package now if every gate allows; true only when the installer reported success.
    bool IdleInstall(std::string strInstallFile, std::string id, std::string strDriverName,
                     std::string strNextVersionID, std::string strNextVersion, _DRIVER_UPDATE_TYPE type);
    bool IsDriverInstalling();
    // The application's installer at `path`, by the flow the update scene picks. Download threads.
    void SilentInstall(std::string path);
    // Asks the installer (0x30008, sender 0xF0000) and waits up to 1200000 ms: the setup result
    // (0 installed), or 0xFFFFFFFF when no valid answer came. `exitCode` changes only on a valid one.
    std::uint32_t PostSetupDriverMsg(std::string id, const std::string& installFile, std::int32_t& exitCode,
                                     int updateType);
    // Fills `info` from the package's detected folder and `text` with the setup request; `text`
    // stays empty when the description cannot be read.
    void GetMonitorProcessMsg(_TOBEUPDATE_DRIVER_INFO& info, std::string installFile, std::string id, int updateType,
                              std::string& text);
    bool PostSetupPilotdeckMsg(std::string installFile, int updateType, bool silent);
    void StartSetup(std::string installFile);
    void StartSetupWithTips(std::string installFile);
    void StartSetupWithWindow();
    void PostFinishInstallMsgToUI(const std::string& id);
    void OnRecvInstallEnd(tagIPC_MESSAGE_ITEM& item);
    void OnRecvAppManagerUIInstallMsg(tagIPC_MESSAGE_ITEM& item);
    void OnRecvPopRestartWnd(tagIPC_MESSAGE_ITEM& item);
    // Install thread: asks for the restart prompt once nothing pending is left (install/RestartPrompt.cpp).
    void CheckRestartWnd();
    // UI thread: replaces the reminder window and sends its request to the message centre.
    void ShowRestartWindowByMC(_DRIVER_UPDATE_TYPE type, _RESTART_SYSTEM_LEVEL level);
    // Any thread: the reminder window, for tests and tools (null when none).
    ForceUpRemindRestartManager* RestartWindow() const { return m_pRestartUI; }
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
    // Copies of the tables and lists, taken under their lock.
    PackageTable ForceTable();
    PackageTable IdleTable();
    std::vector<_TOBEUPDATE_DRIVER_INFO> PopupDrivers();
    std::vector<_TOBEUPDATE_DRIVER_INFO> SkipDrivers();
    std::vector<_IGNORED_DRIVER_INFO> ExtraDrivers();
    // The driver notice's packages, as a check would have left them.
    void SetPopupDrivers(std::vector<_TOBEUPDATE_DRIVER_INFO> drivers);
    _TOBEUPDATE_DRIVER_INFO AppUpdateInfo();
    bool IsFreeScene() const { return m_IsFreeScene; }
    // Puts an entry into a table (DRIVER_UPDATE_FORCE: the forced one, else the idle one), as a
    // previous run of the flows would have left it.
    void SetTableEntry(_DRIVER_UPDATE_TYPE table, const std::string& id, const enmUPGRADE_DRIVER_INFO& entry);
    // Passes of the install thread completed so far.
    int InstallPasses() const { return m_nInstallPasses; }
    // The application's own record and its next version, as the application check notes them.
    void SetAppUpdateInfo(const _TOBEUPDATE_DRIVER_INFO& record);
    // Called by SilentInstall once it holds its guard, before the setup flow starts: lets a test
    // keep one application install running. Set it before any install can start.
    void SetAppSetupHook(std::function<void()> hook) { m_appSetupHook = std::move(hook); }

private:
    void Init();
    void RegisterIpcHandlers();
    void CreateNoticeWindows();
    void ReportQotaIdOnce();
    void ReportSettingsAtStart();
    void ReportFinishedAppUpgrade();
    void CleanEarlierDownloads();
    // ipc/: the downloads a free scene starts again run on a thread of their own: their gates ask
    // synergy, whose answer is itself a callback of the endpoint that the system-state message holds.
    void RunStateWork(std::function<void()> work);
    void StopStateWork();
    void RestartIdleDownloads();
    // ipc/: the user ignored a package of the driver notice: out of the notice, into the extras.
    void IgnorePopupDriver(const std::string& id, const std::string& version);
    // Posts a reply to `request` under the common rule: back to its sender, from 0x50000, under its
    // message id, second id -1, its sync id copied.
    bool PostReply(const tagIPC_MESSAGE_ITEM& request, const char* payload, int length);

    // driver_update/ helpers.
    bool ReadUpdateSwitch(const wchar_t* name, bool verbose);
    bool FetchDriverPackages(std::vector<_TOBEUPDATE_DRIVER_INFO>& packages);
    bool DecideDriverNotice();
    void StartDriverDownload(const _TOBEUPDATE_DRIVER_INFO& record, _DRIVER_UPDATE_TYPE type);
    void SetEntryAfterDownload(_DRIVER_UPDATE_TYPE table, const _DownloadCbParam& report, enmPACKAGE_STATE state);
    void BindDriverCallbacks(const std::string& id, _DRIVER_UPDATE_TYPE type);
    // Writes the tools' view of the tables (driver_update/PackageTablesView.h).
    void PublishPackageTables();
    // The application download's target file, under m_mtxTables.
    std::string AppPackagePath();
    void SetAppPackagePath(const std::string& path);
    // self_update/: the package check of the application's paths: update.zip already there, or
    // room for three times the package; false (logged and reported for `type` and `track`) when not.
    bool AppPackageCheck(const _TOBEUPDATE_DRIVER_INFO& app, _DRIVER_UPDATE_TYPE type, int track);
    // self_update/: a self-upgrade window of the suite is open.
    bool IsSelfUpgrade();
    // install/ helpers.
    bool PassesInstallGates(const std::string& strDriverName, _DRIVER_UPDATE_TYPE type);
    void LateDownloadReports(const std::string& id, const std::string& strDriverName, const std::string& strNextVersionID,
                             const std::string& strNextVersion, _DRIVER_UPDATE_TYPE type);
    void SetInstallState(_DRIVER_UPDATE_TYPE type, const std::string& id, enmPACKAGE_STATE state);
    // Hands the corner notice of an idle install to the UI thread.
    void PostTipsNotice(const std::string& id, bool installed);
    void WalkInstallTable(_DRIVER_UPDATE_TYPE type);
    // The work of one UI install request, on m_uiInstallWorker.
    void HandleUIInstallRequest(const tagIPC_MESSAGE_ITEM& request, const std::string& text);
    // The PD controller firmware of a UI install request (package "45"); 0 when written.
    int UpgradePDPackage(const std::string& image);
    // The "Pilotdeck" window closes for its installer.
    void CloseApplicationWindow();
    // initReportDriverInfor + ReportUpgradeStatusNew on m_report, which several threads share.
    void ReportUpgradeStep(int status, const std::string& id, const std::string& versionId, const std::string& version,
                           const std::string& name, const std::string& typeText);

    // Members in the order the service has always kept them.
    report m_report;
    std::string m_strAppPackagePath KVA_GUARDED_BY(m_mtxTables);
    std::string m_strAppNextVersion;
    plat::CMutex m_mtxPackages;
    std::vector<_TOBEUPDATE_DRIVER_INFO> m_vecPopupDriver KVA_GUARDED_BY(m_mtxTables);
    std::vector<_TOBEUPDATE_DRIVER_INFO> m_vecSkipDriver KVA_GUARDED_BY(m_mtxTables);
    std::vector<_IGNORED_DRIVER_INFO> m_vecDriverExtra KVA_GUARDED_BY(m_mtxTables);
    PackageTable m_mapIdleDriver KVA_GUARDED_BY(m_mtxTables);
    PackageTable m_mapForceDriver KVA_GUARDED_BY(m_mtxTables);
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
    std::shared_ptr<plat::CEvent> m_hSynergyEvent KVA_GUARDED_BY(m_mtxSynergy);
    std::wstring m_strUserSettingKey;
    std::atomic<bool> m_bEnableUpdate{true};
    plat::HMODULE m_hDriverCurVersion = nullptr;

    // Ours: the one lock of the tables and vectors, the stop signal, and the threads that the
    // service once left detached, now owned and joined.
    plat::CMutex m_mtxTables;
    plat::CMutex m_mtxSynergy;
    plat::CMutex m_mtxTablesView KVA_ACQUIRED_BEFORE(m_mtxTables);
    plat::CEvent m_evStop;
    std::thread m_threadInstall;
    std::once_flag m_onceInstall;
    std::atomic<int> m_nInstallPasses{0};
    std::function<void()> m_appSetupHook;
    std::mutex m_mtxReport;  // guards m_report against the install, IPC and download threads
    std::thread m_threadReport;
    std::mutex m_mtxStateWork;
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> m_stateWork;  // guarded by m_mtxStateWork
    bool m_bStateWorkStopped = false;                                                    // guarded by m_mtxStateWork
    // Manual install requests of the UI wait here for the installer, one after the other, so the
    // endpoint keeps answering meanwhile. Last member: joined first, while every other one lives.
    CSerialWorker m_uiInstallWorker{64};
};

extern "C" KVA_EXPORT bool StartKVAServerQuery();
