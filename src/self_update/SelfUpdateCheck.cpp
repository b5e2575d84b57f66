// The application half of every check round: whether a newer version of the management
// application exists, and whether it comes in forced, silently at an idle moment, or offered in
// the install window. Query thread; the update-XML handler runs on an IPC thread.
#include "IPCMessage/IPCMessageClient.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "Util/FileInfo.h"
#include "Util/KVASoftShelf.h"
#include "Util/SystemInfo.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "ipc/IpcIds.h"
#include "ipc/StatePayloads.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"
#include "service/KVAServerQuery.h"

namespace {

using UpdaterManager::enmUPDATER_ERROR_TYPE;
using UpdaterManager::enmUPDATER_LOG_TRACK_TYPE;

// Tracks of the application's error reports: 1 the check, 2 the silent download, 3 the window.
constexpr auto kTrackCheck = static_cast<enmUPDATER_LOG_TRACK_TYPE>(1);
constexpr auto kTrackSilent = static_cast<enmUPDATER_LOG_TRACK_TYPE>(2);
constexpr auto kTrackWindow = static_cast<enmUPDATER_LOG_TRACK_TYPE>(3);
constexpr std::uint64_t kReserveFactor = 3;

bool ShopModelByMarker() {
    return DE::FileExists(DE::UnicodeToUTF8(kShopModelMarkerFile)) &&
           FileInfo::VerifyDigitalSignature(kShopModelMarkerFile, false);
}

void NotifyMainUI() {
    CIPCMessageClient client(ipc_endpoint::kAppNotice, false, false);
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kMainUI;
    item.nSenderID = -1;
    item.nMessageID = ipc_msg::kMainUIAppUpdate;
    item.nReplyMessageID = 0;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = 0;
    item.pszMessage = nullptr;
    item.bReserved = 0;
    client.PostIPCMessage(item);
}

}  // namespace

bool CKVAServerQuery::AppPackageCheck(const _TOBEUPDATE_DRIVER_INFO& app, _DRIVER_UPDATE_TYPE type, int track) {
    const std::string zip = GetDownloadPath("0", app.versionInfo.strNextVersion, 1, 1) + "\\" + "update.zip";
    if (DE::FileExists(zip)) return true;
    const std::uint64_t reserve = kReserveFactor * app.versionInfo.FileSize;
    if (IsMachineFreeSpaceOK(reserve)) return true;
    KVA_LOG_ERROR("CheckCorvellaVersion space not ok, need reserveSize " << reserve);
    ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_DISK_SPACE, type,
                              static_cast<enmUPDATER_LOG_TRACK_TYPE>(track));
    return false;
}

bool CKVAServerQuery::CheckCorvellaVersion() {
    const bool shop = ShopModelByMarker();
    KVA_LOG_WARN("isShopModel" << shop);
    _TOBEUPDATE_DRIVER_INFO app;
    {
        std::lock_guard lock(m_mtxTables);
        app = m_appUpdateInfo;
    }
    const std::string language = DE::UnicodeToUTF8(SystemInfo::GetUserLanguage());
    const int found = GetLanternaNewVersion(language, 2, app, 1);
    if (found == 1) {
        KVA_LOG_WARN("Not New Version, strCurVersion: " << app.strCurVersion);
        ReportEvent(evt::kAppNoNewVersion);
        return true;
    }
    if (found != 0) return true;

    NotifyMainUI();
    KVA_LOG_WARN("find new version,notify main ui, " << app.versionInfo.strNextVersion);
    const bool it = CKVASoftShelf::IsITVersion();
    KVA_LOG_WARN("I version ? " << it);
    if (it || shop) app.policy.forceFlag = true;
    {
        std::lock_guard lock(m_mtxTables);
        m_appUpdateInfo = app;
        m_strAppNextVersion = app.versionInfo.strNextVersion;
    }
    const std::string& cur = app.strCurVersion;
    const std::string& next = app.versionInfo.strNextVersion;

    if (app.policy.forceFlag) {
        const bool cfgForce = CCommonCfgMgr::getInstance().EnableForceUpdate();
        const bool userForce = IsUserSetForceUpdate();
        ReportEvent(evt::kForcedGate, cfgForce, userForce);
        if (!(cfgForce && userForce) && !shop && !it) {
            {
                std::lock_guard lock(m_mtxTables);
                m_mapForceDriver.clear();
            }
            KVA_LOG_ERROR("forceupdate switch is closed");
            return false;
        }
        if (IsWndExists(true)) {
            KVA_LOG_ERROR("IsWndExists");
            ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_APP_WINDOW_OPEN, DRIVER_UPDATE_FORCE, kTrackCheck);
            return false;
        }
        if (!AppPackageCheck(app, DRIVER_UPDATE_FORCE, kTrackCheck)) return false;
        KVA_LOG_WARN("ForceUpdate strCurVersion: " << cur << " strNextVersion:" << next);
        SilentDownload(app, DRIVER_UPDATE_FORCE);
        return true;
    }

    if (!shop && CKVASoftShelf::GetInstance()->IsSupportPlugin("MsgPop") != 1) {
        KVA_LOG_WARN("USA not support popup and idle update");
        return false;
    }
    if (!shop) {
        enmUPDATER_ERROR_TYPE error = UpdaterManager::UPDATER_ERROR_NONE;
        if (!CheckManualState(error)) {
            KVA_LOG_ERROR("not finish manual update");
            if (error != UpdaterManager::UPDATER_ERROR_NONE) ReportCorvellaUpdateError(error, DRIVER_UPDATE_IDLE, kTrackCheck);
            return false;
        }
        if (!IsAgreeSilentUpdate()) {
            ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_NOT_AGREED, DRIVER_UPDATE_IDLE, kTrackCheck);
            if (!IsMachineBatteryOk(true)) {
                KVA_LOG_ERROR("CheckCorvellaVersion IsMachineBattery not ok ");
                ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_SPACE_OR_BATTERY, DRIVER_UPDATE_DEFAULT,
                                          kTrackWindow);
                return false;
            }
            if (!AppPackageCheck(app, DRIVER_UPDATE_DEFAULT, kTrackWindow)) return false;
            StartSetupWithWindow();
            return true;
        }
    }
    if (IsWndExists(true)) {
        KVA_LOG_ERROR("IsWndExists");
        ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_APP_WINDOW_OPEN, DRIVER_UPDATE_IDLE, kTrackCheck);
        return false;
    }
    if (!AppPackageCheck(app, DRIVER_UPDATE_IDLE, kTrackSilent)) return false;
    KVA_LOG_WARN("AgreeSilentUpdate Current scene: " << m_IsFreeScene.load() << " strCurVersion: " << cur
                                                     << " strNextVersion:" << next);
    if (!m_IsFreeScene) {
        KVA_LOG_WARN("not free scene");
        ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_NOT_IDLE, DRIVER_UPDATE_IDLE, kTrackCheck);
        return true;
    }
    SilentDownload(app, DRIVER_UPDATE_IDLE);
    return true;
}

void CKVAServerQuery::OnRecvUpdateXMLMsg(tagIPC_MESSAGE_ITEM& item) {
    const std::string text = state_payload::Text(item.pszMessage, item.nMessageLen);
    if (text.empty()) {
        KVA_LOG_ERROR("strMsg is null");
        return;
    }
    const download_param param(text);
    if (param.strDriverID != "over") {
        CDetectedFolderMgr(param.strDriverID, 1).DownloadXML(param);
        return;
    }
    CLastCheckTimeMgr times;
    if (param.upateType == 0) times.UpdateLanternaCheckTime();
    else if (param.upateType == 1) times.UpdateDriverCheckTime();
}
