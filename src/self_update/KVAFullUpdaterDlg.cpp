#include "self_update/KVAFullUpdaterDlg.h"

#include "DuiLib/UIAutomation.h"
#include "IPCMessage/IPCMessageClient.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "Util/DE.h"
#include "Util/SystemInfo.h"
#include "common/UserLocale.h"
#include "ipc/IPCReply.h"
#include "driver_update/DownloadRequest.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "self_update/NoticeSettings.h"

namespace {

constexpr std::uint32_t WM_QUIT = 0x0012;
constexpr char kApplicationId[] = "0";
constexpr int kStageDownloadStarted = 1;

}  // namespace

CKVAFullUpdaterDlg::CKVAFullUpdaterDlg(std::shared_ptr<vtr::tips_sdk::TipsNormal> notice,
                                       const _TOBEUPDATE_DRIVER_INFO& record)
    : m_record(record), m_notice(std::move(notice)) {}

CKVAFullUpdaterDlg::~CKVAFullUpdaterDlg() {
    // A running download would call back into this object.
    if (m_downloading) CDriverDownloadManager::GetInstance()->CancelDownload(kApplicationId, 0);
    CloseProgressTip();
}

bool CKVAFullUpdaterDlg::StartDownload() {
    ReportEvent(evt::kFullUpdaterDownload);
    _TOBEUPDATE_DRIVER_INFO record;
    {
        std::lock_guard lock(m_mtx);
        record = m_record;
    }
    report r;
    initReportDriverInfor(kStageDownloadStarted, record.strDriverID, record.versionInfo.strNextVersion,
                          record.strDriverName, std::to_string(DRIVER_UPDATE_DEFAULT), r);
    ReportUpgradeStatusNew(kStageDownloadStarted, record.versionInfo.strNextVersionID, record.versionInfo.strNextVersion, r);

    const int found = GetLanternaNewVersionEx(DE::UnicodeToUTF8(SystemInfo::GetUserLanguage()), record, 1);
    if (found == 1) {
        ReportEvent(evt::kAppNoNewVersion);
        return false;
    }
    if (found != 0) return false;
    {
        std::lock_guard lock(m_mtx);
        m_record = record;
    }
    auto* mgr = CDriverDownloadManager::GetInstance();
    const download_param request = driver_update::MakeDownloadParam(record, DRIVER_UPDATE_DEFAULT, kApplicationId);
    const std::string installer = mgr->GetInstallFilePath(request);
    if (!installer.empty()) {
        ReportEvent(evt::kAppInstallStart);
        PostSetupDriverMsg(installer);
        return true;
    }
    CloseProgressTip();
    auto& tips = *vtr::tips_sdk::KVATipsManager::GetInstance();
    auto progress = tips.CreateTips(L"FullUpdater", vtr::tips_sdk::TIPS_PROCESS);
    progress->SetTitleTxt(notice_settings::Text(L"IDS_SET_MTRAN"));
    progress->SetContentTxt(notice_settings::Text(L"IDS_SET_UPDATE_DOWNLOADING"));
    progress->SetTitleIcon(notice_settings::ManagerIcon());
    progress->SetReplyCallback([](int event, const std::wstring&) {
        KVA_LOG_WARN("progress tip answered with event " << event);
    });
    tips.Show(progress);
    {
        std::lock_guard lock(m_mtx);
        m_progress = progress;
    }
    mgr->Init(request);
    const bool bound = mgr->FuncBind(
        kApplicationId, DRIVER_UPDATE_DEFAULT, [this](_DownloadCbParam p) { DoingDownDCB(std::move(p)); },
        [this](_DownloadCbParam p) { FinishDownDCB(std::move(p)); },
        [this](_DownloadCbParam p) { ErrorDownDCB(std::move(p)); }, {}, {});
    if (!bound) {
        KVA_LOG_ERROR("Some callback function is null");
        return false;
    }
    m_downloading = true;
    if (!mgr->BeginDownload(kApplicationId, DRIVER_UPDATE_DEFAULT)) {
        m_downloading = false;
        KVA_LOG_ERROR("service silent Force update down load fail");
        return false;
    }
    return true;
}

void CKVAFullUpdaterDlg::DoingDownDCB(_DownloadCbParam report) {
    std::shared_ptr<vtr::tips_sdk::TipsNormal> progress;
    {
        std::lock_guard lock(m_mtx);
        progress = m_progress;
    }
    auto* bar = dynamic_cast<vtr::tips_sdk::TipsProcess*>(progress.get());
    if (!bar) return;
    bar->SetProcess(report.cbValue1);
    vtr::tips_sdk::KVATipsManager::GetInstance()->Update(progress);
}

void CKVAFullUpdaterDlg::FinishDownDCB(_DownloadCbParam report) {
    m_downloading = false;
    CloseProgressTip();
    ReportEvent(evt::kAppInstallStart);
    if (PostSetupDriverMsg(report.strInstallPath) != 0) return;
    // The main application leaves before the installer replaces it.
    if (const plat::HWND main = plat::FindTopWindow(L"Pilotdeck")) DuiLib::CUIAutomation::PostWindowMessage(main, WM_QUIT, 0, 0);
}

void CKVAFullUpdaterDlg::ErrorDownDCB(_DownloadCbParam report) {
    m_downloading = false;
    KVA_LOG_ERROR("error happened in download thread, code is " << report.errorCode);
}

std::string CKVAFullUpdaterDlg::UserLocale() { return GetUserLocaleName(); }

std::string CKVAFullUpdaterDlg::CommandLine(const std::string& installPath, const std::string& locale) {
    return installPath + " /QU /NCRC " + " -ParaLangage=\"" + (locale.empty() ? "zh-CN" : locale) + "\"";
}

std::uint32_t CKVAFullUpdaterDlg::PostSetupDriverMsg(const std::string& installPath) {
    _TOBEUPDATE_DRIVER_INFO record;
    {
        std::lock_guard lock(m_mtx);
        record = m_record;
        if (!m_client) m_client = std::make_unique<CIPCMessageClient>(ipc_endpoint::kSelfUpdateUI, false, false);
    }
    SaveUpdateInfo(record, 1);
    std::string command = CommandLine(installPath, UserLocale());
    m_installing = true;
    if (!m_client->PostIPCMessage(MakeSetupApplicationItem(ipc_endpoint::kSelfUpdateUI, command)))
        KVA_LOG_ERROR("Send IPC Message ERROR");
    return 0;
}

void CKVAFullUpdaterDlg::CloseProgressTip() {
    std::shared_ptr<vtr::tips_sdk::TipsNormal> progress;
    {
        std::lock_guard lock(m_mtx);
        progress = std::move(m_progress);
    }
    if (progress) vtr::tips_sdk::KVATipsManager::GetInstance()->CloseTips(progress);
}
