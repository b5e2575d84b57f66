// Entry point and lifecycle of the update service.
#include "service/KVAServerQuery.h"

#include "DuiLib/UIMainQueue.h"
#include "DuiLib/WindowImplBase.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/UpdateService.h"
#include "Util/DE.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "install/ForceUpRemindRestartManager.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "kva/platform/Module.h"
#include "self_update/KVAAppUpdataXML.h"
#include "self_update/KVASelfUpdateXML.h"
#include "self_update/KVASilentTipWnd.h"
#include "self_update/UpdateTipsUI.h"

CKVAServerQuery::CKVAServerQuery() : m_ipcClient(ipc_endpoint::kService, true, false), m_ipcServer(&m_ipcClient, false) {
    Init();
    m_bSilentDownloading = false;
    m_bSourceComplete[0] = true;
    m_bSourceComplete[1] = true;
    m_bSource2Complete = true;
    RegisterIpcHandlers();
}

void CKVAServerQuery::Init() {
    const std::wstring exe = plat::HostExecutablePath();
    const auto slash = exe.find_last_of(L"/\\");
    if (exe.empty() || slash == std::wstring::npos) {
        KVA_LOG_ERROR("failed to get module path, errcode: " << plat::GetLastError());
        return;
    }
    m_hDriverCurVersion = plat::LoadModule(exe.substr(0, slash) + L"\\DriverCurVersion.dll");
    if (!m_hDriverCurVersion) {
        KVA_LOG_ERROR("GetCameraVersion: LoadLibrary false.errorno = " << plat::GetLastError());
    }
}

bool CKVAServerQuery::StartServerQuery() {
    if (m_threadQuery.joinable()) {
        // A second start would replace a running thread; refuse it rather than end the host.
        KVA_LOG_ERROR("the service is already started");
        return false;
    }
    DuiLib::UIMainQueue::getInstance()->dispatch([this] { CreateNoticeWindows(); });
    m_strUserSettingKey = VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting";
    auto* downloads = CDriverDownloadManager::GetInstance();
    downloads->Restart();  // a library loaded again in one process finds the manager shut down
    downloads->SetIpcClient(&m_ipcClient);
    // Tracked: a test can wait until the service's threads have nothing left to do.
    auto& clock = plat::CClock::Get();
    m_threadQuery = std::thread(clock.Tracked([this] { OnTimeQueryThreadProc(); }));
    m_threadReport = std::thread(clock.Tracked([this] { ReportQotaIdOnce(); }));
    return true;
}

// UI thread.
void CKVAServerQuery::CreateNoticeWindows() {
    using namespace DuiLib;
    delete m_pUpdateTipsUI;
    m_pUpdateTipsUI = new (std::nothrow) UpdateTipsUI();
    if (!m_pUpdateTipsUI) {
        KVA_LOG_ERROR("new  m_pUpdateTipsUI NULL.");
        return;
    }
    m_pUpdateTipsUI->Create(0, nullptr, WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT);
    SetProp(m_pUpdateTipsUI->GetHWND(), "TipsWndMutex", 1);

    delete m_pKVASilentTipWnd;
    m_pKVASilentTipWnd = new (std::nothrow) KVASilentTipWnd();
    if (!m_pKVASilentTipWnd) {
        KVA_LOG_ERROR("new  m_pKVASilentTipWnd NULL.");
        return;
    }
    m_pKVASilentTipWnd->Create(0, nullptr, WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
    SetProp(m_pKVASilentTipWnd->GetHWND(), "TipsWndMutex", 1);
}

// Reporting thread: the OTA identifier, once per user profile.
void CKVAServerQuery::ReportQotaIdOnce() {
    if (!plat::Sleep(2000, &m_evStop)) return;
    const std::wstring key = VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\DriverUp";
    std::wstring reported;
    if (DE::Registry::GetValue(plat::kHKeyUsers, key, L"ReportQotaId", reported, plat::kKeyAllAccess)) return;
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"ReportQotaId", std::wstring(L"1"), plat::kKeyAllAccess);
    ReportEvent(evt::kOtaId, GetQOTAID());
}

CKVAServerQuery::~CKVAServerQuery() {
    m_bStop = true;
    m_evStop.Set();
    // No IPC handler may run while the members go; downloads must not call back into them either.
    m_ipcClient.Close();
    StopStateWork();
    CDriverDownloadManager::GetInstance()->Shutdown();
    for (std::thread* t : {&m_threadQuery, &m_threadInstall, &m_threadReport}) {
        if (t->joinable()) t->join();
    }
    // UI tasks capture this object: let the queued ones run before the windows go.
    auto* ui = DuiLib::UIMainQueue::getInstance();
    if (!ui->IsUIThread()) ui->WaitIdle();
    delete m_pUpdateTipsUI;
    m_pUpdateTipsUI = nullptr;
    delete m_pKVASilentTipWnd;
    m_pKVASilentTipWnd = nullptr;
    delete m_pRestartUI;
    m_pRestartUI = nullptr;
    if (m_hDriverCurVersion) plat::FreeModule(m_hDriverCurVersion);
    m_hDriverCurVersion = nullptr;
}

CKVAServerQuery::PackageTable CKVAServerQuery::ForceTable() {
    std::lock_guard lock(m_mtxTables);
    return m_mapForceDriver;
}

CKVAServerQuery::PackageTable CKVAServerQuery::IdleTable() {
    std::lock_guard lock(m_mtxTables);
    return m_mapIdleDriver;
}

extern "C" bool StartKVAServerQuery() {
    // The notice controllers are statics too. Built before the service, they are destroyed after
    // it at unload, so the UI tasks its destructor still runs find them alive.
    KVAAppUpdataXML::GetInstance();
    KVASelfUpdateXML::GetInstance();
    static CKVAServerQuery query;
    return query.StartServerQuery();
}
