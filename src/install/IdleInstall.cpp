// One package's install: every gate again at the moment of installing, the setup request, the
// state move 3 -> 5 -> 6 or 7, and the reports of each outcome.
#include "DuiLib/UIMainQueue.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "common/FullScreenProbe.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "self_update/UpdateTipsUI.h"
#include "service/KVAServerQuery.h"

namespace {

using UpdaterManager::UPDATER_TRACK_INSTALL;
constexpr std::uint32_t kFailurePauseMs = 10000;

std::string TypeText(_DRIVER_UPDATE_TYPE type) { return std::to_string(static_cast<int>(type)); }

}  // namespace

bool CKVAServerQuery::IdleInstall(std::string strInstallFile, std::string id, std::string strDriverName,
                                  std::string strNextVersionID, std::string strNextVersion, _DRIVER_UPDATE_TYPE type) {
    KVA_LOG_WARN("Enter driver IdleInstall driverName" << strDriverName << " " << strNextVersion);
    if (!PassesInstallGates(id, strDriverName, type)) return false;
    if (type == DRIVER_UPDATE_IDLE) {
        SetInstallState(type, id, PACKAGE_INSTALLING);
        PostTipsNotice(id, false);
    } else {
        SetInstallState(DRIVER_UPDATE_FORCE, id, PACKAGE_INSTALLING);
    }
    LateDownloadReports(id, strDriverName, strNextVersionID, strNextVersion, type);

    const std::string typeText = TypeText(type);
    StartInstallTimer(id, type);
    std::int32_t exitCode = -1;
    const std::uint32_t rc = PostSetupDriverMsg(id, strInstallFile, exitCode, type);
    const _DRIVER_UPDATE_TYPE table = type == DRIVER_UPDATE_IDLE ? DRIVER_UPDATE_IDLE : DRIVER_UPDATE_FORCE;
    if (rc != 0) {
        KVA_LOG_WARN("install driver failed:" << strDriverName);
        ReportUpgradeStep(4, id, strNextVersionID, strNextVersion, strDriverName, typeText);
        ReportEvent(evt::kDriverInstallFailed, strDriverName + ";" + strNextVersion + ";" + typeText, rc, exitCode);
        plat::Sleep(kFailurePauseMs, &m_evStop);
        SetInstallState(table, id, PACKAGE_INSTALL_FAILED);
        if (type == DRIVER_UPDATE_IDLE) PostTipsNotice(id, true);
        return false;
    }

    KVA_LOG_WARN("install driver successed:" << strDriverName << " driver id" << id);
    ReportUpgradeStep(3, id, strNextVersionID, strNextVersion, strDriverName, typeText);
    ReportInstallTimer(id, type,
                       strDriverName + ";" + strNextVersion + ";" + typeText + ";" + std::to_string(rc) + ";" +
                           std::to_string(exitCode));
    PostDrvUpgrade(id, strInstallFile, 1);
    PostFinishInstallMsgToUI(id);
    SetInstallState(table, id, PACKAGE_INSTALLED);
    if (type == DRIVER_UPDATE_IDLE) {
        PostTipsNotice(id, true);
        int left = 0;
        {
            std::lock_guard lock(m_mtxTables);
            for (const auto& [key, entry] : m_mapIdleDriver) left += entry.state != PACKAGE_INSTALLED ? 1 : 0;
        }
        UpdateDoctorDB(left);
    }
    if (m_bRestartLevel1Found || m_bRestartLevel2Found) CheckRestartWnd();
    return true;
}

// A refusal reports once and leaves the entry as it was (the forced switch aside).
bool CKVAServerQuery::PassesInstallGates(const std::string& id, const std::string& strDriverName,
                                         _DRIVER_UPDATE_TYPE type) {
    using namespace UpdaterManager;
    (void)id;
    if (!IsMachineBatteryOk(false)) {
        KVA_LOG_ERROR("battery not ok");
        ReportDriverUpdateError(UPDATER_ERROR_SPACE_OR_BATTERY, type, UPDATER_TRACK_INSTALL, strDriverName);
        return false;
    }
    if (m_bAppSetupRunning) {
        ReportDriverUpdateError(UPDATER_ERROR_APP_SETUP_RUNNING, type, UPDATER_TRACK_INSTALL, strDriverName);
        KVA_LOG_ERROR("Install pilotdeck" << m_bAppSetupRunning.load());
        return false;
    }
    if (type == DRIVER_UPDATE_IDLE) {
        if (!IsDriverSwitchOpen()) {
            ReportDriverUpdateError(UPDATER_ERROR_SWITCH_OFF, DRIVER_UPDATE_IDLE, UPDATER_TRACK_INSTALL, "All");
            KVA_LOG_WARN("switch close");
            return false;
        }
        const bool freeScene = m_IsFreeScene;
        const bool fullscreen = IsFullscreen();
        if (!freeScene || fullscreen) {
            ReportDriverUpdateError(freeScene ? UPDATER_ERROR_FULL_SCREEN : UPDATER_ERROR_NOT_IDLE, DRIVER_UPDATE_IDLE,
                                    UPDATER_TRACK_INSTALL, strDriverName);
            KVA_LOG_WARN("m_IsFreeScene" << freeScene << " isFullscreen" << fullscreen);
            return false;
        }
        enmUPDATER_ERROR_TYPE error = UPDATER_ERROR_NONE;
        if (!CheckManualState(error)) {
            ReportDriverUpdateError(error, DRIVER_UPDATE_IDLE, UPDATER_TRACK_INSTALL, strDriverName);
            KVA_LOG_WARN("not finish manual update");
            return false;
        }
        if (DE::IsProcessExists(L"classcons.exe") || DE::IsProcessExists(L"WebMetting.exe")) {
            ReportDriverUpdateError(UPDATER_ERROR_MEETING, DRIVER_UPDATE_IDLE, UPDATER_TRACK_INSTALL, strDriverName);
            KVA_LOG_ERROR("vistel meeting now");
            return false;
        }
        return true;
    }
    if (type == DRIVER_UPDATE_FORCE) {
        if (IsWndExists(false)) {
            ReportDriverUpdateError(UPDATER_ERROR_APP_WINDOW_OPEN, DRIVER_UPDATE_FORCE, UPDATER_TRACK_INSTALL,
                                    strDriverName);
            KVA_LOG_ERROR("wnd exist");
            return false;
        }
        const bool enabled = CCommonCfgMgr::getInstance().EnableForceUpdate();
        const bool userSet = IsUserSetForceUpdate();
        ReportEvent(evt::kForcedGate, enabled, userSet);
        if (!enabled || !userSet) {
            {
                std::lock_guard lock(m_mtxTables);
                m_mapForceDriver.clear();
            }
            PublishPackageTables();
            return false;
        }
    }
    return true;
}

// The download flow reports a download it started itself; one found on disk is reported here.
void CKVAServerQuery::LateDownloadReports(const std::string& id, const std::string& strDriverName,
                                          const std::string& strNextVersionID, const std::string& strNextVersion,
                                          _DRIVER_UPDATE_TYPE type) {
    std::uint64_t size = 0;
    {
        std::lock_guard lock(m_mtxTables);
        const PackageTable& table = type == DRIVER_UPDATE_IDLE ? m_mapIdleDriver : m_mapForceDriver;
        auto it = table.find(id);
        if (it == table.end() || it->second.downloadedThisRun) return;
        size = it->second.FileSize;
    }
    const std::string typeText = TypeText(type);
    for (int status : {1, 2}) {
        report fresh;
        initReportDriverInfor(status, id, strNextVersion, strDriverName, typeText, fresh);
        ReportUpgradeStatusNew(status, strNextVersionID, strNextVersion, fresh);
    }
    ReportEvent(evt::kLateDownload, strDriverName + ";" + strNextVersion + "; " + typeText);
    ReportEvent(evt::kLateDownloadSize, strDriverName + ";" + strNextVersion + ";" + typeText, size);
}

void CKVAServerQuery::ReportUpgradeStep(int status, const std::string& id, const std::string& versionId,
                                        const std::string& version, const std::string& name,
                                        const std::string& typeText) {
    std::lock_guard lock(m_mtxReport);
    initReportDriverInfor(status, id, version, name, typeText, m_report);
    ReportUpgradeStatusNew(status, versionId, version, m_report);
}

void CKVAServerQuery::SetInstallState(_DRIVER_UPDATE_TYPE type, const std::string& id, enmPACKAGE_STATE state) {
    {
        std::lock_guard lock(m_mtxTables);
        PackageTable& table = type == DRIVER_UPDATE_IDLE ? m_mapIdleDriver : m_mapForceDriver;
        auto it = table.find(id);
        if (it == table.end()) return;  // the forced gate of another package emptied the table
        it->second.state = state;
    }
    PublishPackageTables();
}

void CKVAServerQuery::PostTipsNotice(const std::string& id, bool installed) {
    DuiLib::UIMainQueue::getInstance()->dispatch([this, id, installed] {
        if (!m_pUpdateTipsUI) return;
        if (installed) {
            m_pUpdateTipsUI->ShowInstalled(id);
        } else {
            m_pUpdateTipsUI->ShowInstalling(id);
        }
    });
}
