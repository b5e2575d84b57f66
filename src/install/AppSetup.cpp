// The management application's own installer: the command line for the installer process and
// the three flows that decide whether, and with which notice, it may start now.
#include "DuiLib/UIMainQueue.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/DE.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "common/FullScreenProbe.h"
#include "common/UserLocale.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "self_update/KVASelfUpdateXML.h"
#include "self_update/KVASilentTipWnd.h"
#include "service/KVAServerQuery.h"

namespace {

using UpdaterManager::UPDATER_TRACK_APP_INSTALL;

std::string UserLocale() {
    const std::string locale = GetUserLocaleName();
    return locale.empty() ? std::string("zh-CN") : locale;
}

}  // namespace

bool CKVAServerQuery::PostSetupPilotdeckMsg(std::string installFile, int updateType, bool silent) {
    if (installFile.empty()) return false;
    SaveUpdateInfo(AppUpdateInfo(), updateType);
    std::string command = installFile + (silent ? " /S /NCRC " : " /NCRC ") + " -ParaLangage=\"" + UserLocale() + "\"";
    if (!m_ipcClient.PostIPCMessage(MakeSetupApplicationItem(ipc_endpoint::kService, command))) {
        KVA_LOG_ERROR("Send IPC Message ERROR");
        return false;
    }
    return true;
}

// The simulated desktop has no message queues: the quit message closes the window at once.
void CKVAServerQuery::CloseApplicationWindow() {
    const plat::HWND window = plat::FindTopWindow(L"Pilotdeck");
    if (window != 0) plat::DestroyTopWindow(window);
}

void CKVAServerQuery::StartSetup(std::string installFile) {
    using namespace UpdaterManager;
    const _TOBEUPDATE_DRIVER_INFO app = AppUpdateInfo();
    const std::string& next = app.versionInfo.strNextVersion;
    KVA_LOG_WARN("StartSetup Start, " << next);
    if (IsWndExists(true)) {
        ReportCorvellaUpdateError(UPDATER_ERROR_APP_WINDOW_OPEN, DRIVER_UPDATE_FORCE, UPDATER_TRACK_APP_INSTALL);
        KVA_LOG_ERROR("IsWndExists");
        return;
    }
    if (!IsMachineBatteryOk(true)) {
        ReportCorvellaUpdateError(UPDATER_ERROR_SPACE_OR_BATTERY, DRIVER_UPDATE_FORCE, UPDATER_TRACK_APP_INSTALL);
        KVA_LOG_ERROR("ContinueDownLoad IsMachineBattery not ok");
        return;
    }
    ReportEvent(evt::kAppInstallStart, next + ";" + "2", 2);
    if (PostSetupPilotdeckMsg(installFile, DRIVER_UPDATE_FORCE, true)) {
        CloseApplicationWindow();
        return;
    }
    KVA_LOG_ERROR("Failed to start corvella install exe.");
    ReportEvent(evt::kAppInstallStartFailed, next + ";" + "2", 3);
    ReportUpgradeStep(4, app.strDriverID, app.versionInfo.strNextVersionID, next, app.strDriverName, "2");
}

void CKVAServerQuery::StartSetupWithTips(std::string installFile) {
    using namespace UpdaterManager;
    const _TOBEUPDATE_DRIVER_INFO app = AppUpdateInfo();
    const std::string& next = app.versionInfo.strNextVersion;
    KVA_LOG_WARN("StartSetupWithTips Start, " << next);
    if (IsWndExists(true)) {
        ReportCorvellaUpdateError(UPDATER_ERROR_APP_WINDOW_OPEN, DRIVER_UPDATE_IDLE, UPDATER_TRACK_APP_INSTALL);
        KVA_LOG_ERROR("IsWndExists");
        return;
    }
    if (!IsMachineBatteryOk(true)) {
        ReportCorvellaUpdateError(UPDATER_ERROR_SPACE_OR_BATTERY, DRIVER_UPDATE_IDLE, UPDATER_TRACK_APP_INSTALL);
        KVA_LOG_ERROR("ContinueDownLoad IsMachineBattery not ok");
        return;
    }
    const bool freeScene = m_IsFreeScene;
    const bool fullscreen = IsFullscreen();
    KVA_LOG_WARN("StartSetupWithTips m_IsFreeScene: " << freeScene << " IsFullscreen: " << fullscreen);
    if (!freeScene || (fullscreen && !IsShopModel())) {
        ReportEvent(evt::kAppUpdateError, "5", UPDATER_TRACK_APP_INSTALL,
                    freeScene ? UPDATER_ERROR_FULL_SCREEN : UPDATER_ERROR_NOT_IDLE);
        return;
    }
    ReportEvent(evt::kAppInstallStart, next + ";" + "5", 3);
    if (PostSetupPilotdeckMsg(installFile, DRIVER_UPDATE_IDLE, true)) {
        CloseApplicationWindow();
    } else {
        KVA_LOG_ERROR("Failed to start corvella install exe.");
        ReportEvent(evt::kAppInstallStartFailed, next + ";" + "5", 4);
        ReportUpgradeStep(4, app.strDriverID, app.versionInfo.strNextVersionID, next, app.strDriverName, "5");
    }
    DuiLib::UIMainQueue::getInstance()->dispatch([this] {
        if (m_pKVASilentTipWnd) m_pKVASilentTipWnd->ShowStartInstall();
    });
}

void CKVAServerQuery::StartSetupWithWindow() {
    const _TOBEUPDATE_DRIVER_INFO app = AppUpdateInfo();
    const std::string& next = app.versionInfo.strNextVersion;
    KVA_LOG_WARN("StartSetupWithWindow Start, " << next);
    if (DE::IsProcessExists(L"Pilotdeck.exe")) {
        KVA_LOG_WARN("Not AgreeSilentUpdate, found Pilotdeck process." << " strCurVersion: " << app.strCurVersion
                                                                        << " strNextVersion:" << next);
        if (plat::FindTopWindow(L"Pilotdeck") != 0) {
            SendPopWindowsMsgToSetting();
            return;
        }
    }
    const bool fullscreen = IsFullscreen();
    KVA_LOG_WARN("StartSetupWithWindow m_IsFreeScene: " << m_IsFreeScene.load() << " IsFullscreen: " << fullscreen);
    if (fullscreen) return;
    KVA_LOG_WARN("Not AgreeSilentUpdate, Pilotdeck window not found." << " strCurVersion: " << app.strCurVersion
                                                                       << " strNextVersion:" << next);
    DuiLib::UIMainQueue::getInstance()->dispatch([app] {
        ReportEvent(evt::kAppNoticeShown, 3);
        KVASelfUpdateXML::GetInstance()->SetDriverVersionInfo(app);
    });
}

void CKVAServerQuery::OnRecvInstallEnd(tagIPC_MESSAGE_ITEM&) {
    const _TOBEUPDATE_DRIVER_INFO app = AppUpdateInfo();
    KVA_LOG_WARN("user canceled the corvella upgrade process.");
    ReportEvent(evt::kAppInstallCancelled, app.versionInfo.strNextVersion + ";" + "1");
    ReportUpgradeStep(5, app.strDriverID, app.versionInfo.strNextVersionID, app.versionInfo.strNextVersion,
                      app.strDriverName, "1");
}
