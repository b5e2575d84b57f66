// The query thread: start delay, one-time steps, then a check round every period.
#include <algorithm>

#include "DataReport/BIDataReport.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/CorvellaVersionMgr.h"
#include "Util/DE.h"
#include "Util/WMI.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Log.h"
#include "kva/platform/Registry.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr std::int64_t kSettingsEvent = 619002012;
constexpr std::int64_t kMessageCentreRecheckSeconds = 3600;

std::wstring ReadString(const std::wstring& key, const wchar_t* name) {
    std::wstring value;
    DE::Registry::GetValue(plat::kHKeyUsers, key, name, value, plat::kKeyAllAccess);
    return value;
}

plat::DWORD ReadDword(const std::wstring& key, const wchar_t* name) {
    plat::DWORD value = 0;
    if (!DE::Registry::GetValue(plat::kHKeyUsers, key, name, value, plat::kKeyAllAccess)) value = 0;
    return value;
}

}  // namespace

bool CKVAServerQuery::OnTimeQueryThreadProc() {
    KVA_LOG_WARN("OnTimeQueryThreadProc");
    auto& cfg = CCommonCfgMgr::getInstance();
    m_bEnableUpdate = cfg.isEnableUpdate();
    const int delayMinutes = std::min(cfg.getInitTime(), 5);
    if (delayMinutes > 0) plat::Sleep(static_cast<std::uint32_t>(delayMinutes) * 60000u, &m_evStop);

    ReportSettingsAtStart();
    StartInstallThread();
    ReportFinishedAppUpgrade();
    CleanEarlierDownloads();

    const std::uint32_t periodMs = static_cast<std::uint32_t>(cfg.getQueryLocalPeriod()) * 60000u;
    while (!m_bStop) {
        // A stop while waiting for the network ends the loop instead of running a round.
        if (!WaitForNetWork(&m_evStop) && m_bStop) break;
        KVA_LOG_WARN("Check version");
        ReportEvent(evt::kCheckRound);
        CheckCorvellaVersion();
        CheckSoftDriverVersion();
        plat::Sleep(periodMs, &m_evStop);
    }
    return true;
}

void CKVAServerQuery::ReportSettingsAtStart() {
    const plat::DWORD checkUpdate = ReadDword(m_strUserSettingKey, L"checkupdate");
    const plat::DWORD selfUpdate = ReadDword(m_strUserSettingKey, L"selfupdate");
    auto* report = CBIDataReport::GetInstance();
    report->Report(kSettingsEvent, {std::to_string(selfUpdate), "0"});
    report->Report(kSettingsEvent, {std::to_string(checkUpdate), "1"});
}

void CKVAServerQuery::ReportFinishedAppUpgrade() {
    const std::string appVersion = CCorvellaVersionMgr::getInstance().GetAppVersion();
    if (appVersion.empty()) {
        ReportEvent(evt::kAppVersionMissing, 3);
        KVA_LOG_ERROR("InitWindow: GetAppVersion error");
    }
    const plat::DWORD updateType = ReadDword(m_strUserSettingKey, L"updatetype");
    const std::wstring lastVersion = ReadString(m_strUserSettingKey, L"lastversion");
    const std::wstring nextVersion = ReadString(m_strUserSettingKey, L"nextversion");
    const std::wstring nextVersionId = ReadString(m_strUserSettingKey, L"nextversionId");
    const std::string next = DE::UnicodeToUTF8(nextVersion);
    const std::string last = DE::UnicodeToUTF8(lastVersion);
    if (appVersion != next || appVersion == last) return;

    ReportEvent(evt::kAppLastVersion, last + ";" + appVersion + ";" + std::to_string(updateType));
    initReportDriverInfor(3, "0", next, "", "1", m_report);
    const int result = ReportUpgradeStatusNew(3, DE::UnicodeToUTF8(nextVersionId), last, m_report);
    if (result == 0) {
        DE::Registry::SetValue(plat::kHKeyUsers, m_strUserSettingKey, L"lastversion", nextVersion, plat::kKeyAllAccess);
    } else {
        KVA_LOG_ERROR("Report is " << result);
    }
    PostDrvUpgrade("0", next, 1);
}

void CKVAServerQuery::CleanEarlierDownloads() {
    const std::string d = GetAppDataFolder();
    const std::string appVersion = CCorvellaVersionMgr::getInstance().GetAppVersion();
    for (const std::string& tail : {GetUpdateFolder(3, 3), GetUpdateFolder(2, 3), std::string("\\DriverUpgrade\\Detected"),
                                    std::string("\\DriverUpgrade\\Downloaded"),
                                    std::string("\\DriverUpgrade\\Downloaded\\Update\\Installed"),
                                    std::string("\\DriverUpgrade\\Update\\Downloaded") + "\\" + "0_" + appVersion}) {
        // An unknown folder kind gives an empty tail: never delete the data folder itself.
        if (!tail.empty()) DE::DeleteDeepDirectory(d + tail);
    }
}

int CKVAServerQuery::IsNeedCheckDrvUpdate() {
    int result = 1;
    const std::wstring base = VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck";
    plat::HKEY key = 0;
    if (plat::RegOpenKey(plat::kHKeyUsers, base, plat::kKeyRead, &key) != plat::kErrorSuccess) return 1;
    plat::HKEY sub = 0;
    if (plat::RegOpenKey(key, L"FirstCheckAfterBoot", plat::kKeyRead, &sub) != plat::kErrorSuccess) {
        const plat::LONG rc =
            plat::RegCreateKey(key, L"FirstCheckAfterBoot", plat::kRegOptionVolatile, plat::kKeyAllAccess, &sub);
        if (rc != plat::kErrorSuccess) {
            plat::SetLastError(static_cast<plat::DWORD>(rc));
            KVA_LOG_ERROR("Failed to create register key, errorcode\xEF\xBC\x9A " << plat::GetLastError());
        }
    } else {
        std::int64_t t = 0;
        if (CLastCheckTimeMgr().GetMessageCenterLastCheckTime(t) && DE::Now() - t < kMessageCentreRecheckSeconds) {
            result = 0;
        }
    }
    if (sub) plat::RegCloseKey(sub);
    plat::RegCloseKey(key);
    return result;
}

bool CKVAServerQuery::IsCurrentBootStrap() {
    plat::HKEY key = 0;
    if (plat::RegOpenKey(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\BootStrap", plat::kKeyRead, &key) ==
        plat::kErrorSuccess) {
        plat::RegCloseKey(key);
        return false;
    }
    if (plat::RegCreateKey(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\BootStrap", plat::kRegOptionVolatile,
                           plat::kKeyAllAccess, &key) != plat::kErrorSuccess) {
        KVA_LOG_ERROR("IsCurrentBootStrap create bootstrap sign failed");
        return false;
    }
    plat::RegCloseKey(key);
    return true;
}

emUpdateScene CKVAServerQuery::CheckUpdateScene() {
    bool forced = false;
    {
        std::lock_guard lock(m_mtxTables);  // the application check rewrites the record
        forced = m_appUpdateInfo.policy.forceFlag;
    }
    if (forced) return UPDATE_SCENE_RESTRICTED;
    const std::string logon =
        CWMI("ROOT\\CIMV2").QueryValue("SELECT Name FROM Win32_Process WHERE Name = 'LogonUI.exe'", "Name");
    return logon == "LogonUI.exe" ? UPDATE_SCENE_RESTRICTED : UPDATE_SCENE_NORMAL;
}
