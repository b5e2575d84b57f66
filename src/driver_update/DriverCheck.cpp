// The driver half of every periodic check (query thread): ask the update service for newer
// packages, sort them into the forced and idle tables, start the downloads the settings allow, and
// decide whether the user sees the driver notice.
#include <set>

#include "DuiLib/UIMainQueue.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "Util/KVASoftShelf.h"
#include "Util/SMBIOSHelper.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "common/FullScreenProbe.h"
#include "driver_update/DownloadRequest.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "self_update/KVAAppUpdataXML.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr int kFetchAttempts = 60;
constexpr std::uint32_t kFetchRetryMs = 30000;

}  // namespace

bool CKVAServerQuery::FetchDriverPackages(std::vector<_TOBEUPDATE_DRIVER_INFO>& packages) {
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
        const int ret = GetDriverNewVersionEx(packages, ignored, 1);
        if (ret == KVADL_OK) break;
        KVA_LOG_ERROR("get new version ret" << ret);
        if (!plat::CClock::Get().Sleep(kFetchRetryMs, &m_evStop)) return false;
    }
    KVA_LOG_WARN("tempList size:" << packages.size());
    std::lock_guard lock(m_mtxTables);
    m_vecDriverExtra.insert(m_vecDriverExtra.end(), ignored.begin(), ignored.end());
    return true;
}

CKVAServerQuery::CSortedPackages CKVAServerQuery::SortDriverPackages(const std::vector<_TOBEUPDATE_DRIVER_INFO>& packages) {
    // One snapshot of the idle-capable names serves the whole walk. The tables' lock is taken per
    // package and never held while the switch is read or a line is logged.
    std::set<std::string> idleNames;
    bool namesRead = false;
    CSortedPackages sorted;
    for (const _TOBEUPDATE_DRIVER_INFO& r : packages) {
        if (r.policy.updateType == DRIVER_UPDATE_FORCE) {
            SortForcedPackage(r, sorted);
            continue;
        }
        {
            std::lock_guard lock(m_mtxTables);
            auto known = m_mapIdleDriver.find(r.strDriverID);
            if (known == m_mapIdleDriver.end() || known->second.state != PACKAGE_INSTALLED) m_vecPopupDriver.push_back(r);
        }
        // Read for every idle package: its log lines and event 2009 come once per package.
        if (!IsDriverSwitchOpen()) continue;
        if (!namesRead) {
            idleNames = CCommonCfgMgr::getInstance().GetIdleUpdateNames();
            namesRead = true;
        }
        bool idle = idleNames.count(r.strDriverName) != 0;
        if (!idle && r.strDriverID == kDriverTypeBios && r.policy.idleAllowed) {
            KVA_LOG_WARN("update no skip it,can idle update,driver id" << r.strDriverID);
            idle = true;
        }
        if (idle) {
            SortIdlePackage(r, sorted);
            continue;
        }
        {
            std::lock_guard lock(m_mtxTables);
            m_vecSkipDriver.push_back(r);
        }
        KVA_LOG_ERROR("update skip it,driver id" << r.strDriverID);
    }
    return sorted;
}

void CKVAServerQuery::SortForcedPackage(const _TOBEUPDATE_DRIVER_INFO& r, CSortedPackages& sorted) {
    if (r.policy.restartLevel1) m_bRestartLevel1Found = true;
    if (r.policy.restartLevel2) m_bRestartLevel2Found = true;
    std::lock_guard lock(m_mtxTables);
    enmUPGRADE_DRIVER_INFO& entry = m_mapForceDriver[r.strDriverID];
    if (entry.state != PACKAGE_KNOWN) return;
    driver_update::CopyRecordToEntry(r, entry);
    sorted.forced.push_back(r);
}

void CKVAServerQuery::SortIdlePackage(const _TOBEUPDATE_DRIVER_INFO& r, CSortedPackages& sorted) {
    {
        std::lock_guard lock(m_mtxTables);
        enmUPGRADE_DRIVER_INFO& entry = m_mapIdleDriver[r.strDriverID];
        driver_update::CopyRecordToEntry(r, entry);
        if (entry.state == PACKAGE_KNOWN) sorted.idle.push_back(r);
    }
    if (r.policy.restartLevel1) m_bRestartLevel1Found = m_bIdleRestartFound = true;
    if (r.policy.restartLevel2) m_bRestartLevel2Found = m_bIdleRestartFound = true;
}

bool CKVAServerQuery::CheckSoftDriverVersion() {
    if (!SMBIOSHelper::GetInstance()->IsSupportDevice()) {
        KVA_LOG_ERROR("Not SupportDevice");
        return false;
    }
    {
        std::lock_guard lock(m_mtxTables);
        m_vecPopupDriver.clear();
        m_vecSkipDriver.clear();
        m_vecDriverExtra.clear();
    }
    // Serialises checks and stays held through the fetch's retries; no handler ever waits on it.
    std::lock_guard check(m_mtxPackages);
    std::vector<_TOBEUPDATE_DRIVER_INFO> packages;
    if (!FetchDriverPackages(packages)) {
        KVA_LOG_WARN("driver check stopped with the service");
        return false;
    }
    const CSortedPackages sorted = SortDriverPackages(packages);
    // Whatever the check decides below, the tools' view shows the tables it leaves.
    struct CPublishAtEnd {
        CKVAServerQuery* q;
        ~CPublishAtEnd() { q->PublishPackageTables(); }
    } publish{this};

    auto& cfg = CCommonCfgMgr::getInstance();
    const bool forceAllowed = cfg.EnableForceUpdate() && IsUserSetForceUpdate();
    // Read again for the report, so "forceupdate" is created on every check even when the
    // configuration already said no.
    const bool cfgForce = cfg.EnableForceUpdate();
    const bool userForce = IsUserSetForceUpdate();
    ReportEvent(evt::kForcedGate, cfgForce ? 1 : 0, userForce ? 1 : 0);
    if (forceAllowed) {
        CheckDownLoad(sorted.forced, DRIVER_UPDATE_FORCE);
    } else {
        std::lock_guard lock(m_mtxTables);
        m_mapForceDriver.clear();
    }

    if (CKVASoftShelf::GetInstance()->IsSupportPlugin("MsgPop") != 1) {
        KVA_LOG_WARN("USA not support popup and idle driver update");
        return false;
    }
    if (IsDriverSwitchOpen()) {
        CheckDownLoad(sorted.idle, DRIVER_UPDATE_IDLE);
        std::lock_guard lock(m_mtxTables);
        m_vecPopupDriver = m_vecSkipDriver;
    } else {
        ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_SWITCH_OFF, DRIVER_UPDATE_IDLE,
                                UpdaterManager::UPDATER_TRACK_CHECK, "All");
    }
    return DecideDriverNotice();
}

bool CKVAServerQuery::DecideDriverNotice() {
    std::vector<_TOBEUPDATE_DRIVER_INFO> popup;
    {
        std::lock_guard lock(m_mtxTables);
        popup = m_vecPopupDriver;
    }
    const std::size_t n = popup.size();
    KVA_LOG_ERROR("DriverCount " << n);
    if (DE::IsProcessExists(L"Pilotdeck.exe") && plat::FindTopWindow(L"Pilotdeck") != 0) {
        if (n < 1) return true;
        KVA_LOG_WARN("pilotdeck exist ");
        SendPopWindowsMsgToAppMg(true);
        return true;
    }
    if (n == 0) return true;
    if (IsFullscreen()) {
        KVA_LOG_ERROR(" Is full screen now");
        return false;
    }
    if (!IsBatterySpaceOK(popup, DRIVER_UPDATE_DEFAULT)) {
        KVA_LOG_ERROR("battery or space not ok");
        return false;
    }
    DuiLib::UIMainQueue::getInstance()->dispatch([popup = std::move(popup)] {
        ReportEvent(evt::kAppNoticeShown, 1);
        KVAAppUpdataXML::GetInstance()->SetDriverList(popup);
        KVAAppUpdataXML::GetInstance()->GetDriverItem();
    });
    return true;
}

void CKVAServerQuery::CheckDownLoad(std::vector<_TOBEUPDATE_DRIVER_INFO> list, _DRIVER_UPDATE_TYPE type) {
    KVA_LOG_WARN("enter CheckDownLoad");
    if (!IsBatterySpaceOK(list, type)) {
        ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_SPACE_OR_BATTERY, type,
                                UpdaterManager::UPDATER_TRACK_CHECK, "All");
        return;
    }
    UpdateDriver(list, type);
}

void CKVAServerQuery::UpdateDriver(const std::vector<_TOBEUPDATE_DRIVER_INFO>& list, _DRIVER_UPDATE_TYPE type) {
    KVA_LOG_WARN("Enter UpdateDriver ");
    if (type != DRIVER_UPDATE_IDLE) {
        for (const auto& r : list) ForceDownLoad(r);
        PublishPackageTables();
        return;
    }
    UpdaterManager::enmUPDATER_ERROR_TYPE error = UpdaterManager::UPDATER_ERROR_NONE;
    if (!CheckManualState(error)) {
        ReportDriverUpdateError(error, DRIVER_UPDATE_IDLE, UpdaterManager::UPDATER_TRACK_CHECK, "All");
        KVA_LOG_WARN("not finish manual update");
        return;
    }
    for (const auto& r : list) IdleDownLoad(r);
    PublishPackageTables();
}
