#include "self_update/KVAAppUpdataXML.h"

#include <cstring>

#include "DuiLib/UIAutomation.h"
#include "DuiLib/WindowImplBase.h"
#include "IPCMessage/IPCMessageClient.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "Util/DE.h"
#include "Util/DriverInfoListMgr.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "self_update/NoticeSettings.h"

namespace {

constexpr wchar_t kMainApp[] = L"Pilotdeck.exe";
constexpr wchar_t kMainWindowClass[] = L"Pilotdeck";
constexpr char kDriverPage[] = "Driver";
constexpr int kOpenerTries = 60;
constexpr std::uint32_t kOpenerPauseMs = 200;
constexpr std::size_t kPageBufferBytes = 256;

}  // namespace

KVAAppUpdataXML* KVAAppUpdataXML::GetInstance() {
    static KVAAppUpdataXML instance;
    return &instance;
}

KVAAppUpdataXML::KVAAppUpdataXML() : CRemindingNotice(L"driverRemind", WHICH_CALL_DRIVER_NOTICE) {
    // The tips library outlives this object, whose answers it delivers.
    vtr::tips_sdk::KVATipsManager::GetInstance();
}

KVAAppUpdataXML::~KVAAppUpdataXML() {
    DropTips();
    m_stop.Set();
    if (m_opener.joinable()) m_opener.join();
}

void KVAAppUpdataXML::SetDriverList(std::vector<_TOBEUPDATE_DRIVER_INFO> drivers) {
    std::lock_guard lock(m_mtx);
    m_drivers = std::move(drivers);
}

std::vector<_TOBEUPDATE_DRIVER_INFO> KVAAppUpdataXML::DriverList() {
    std::lock_guard lock(m_mtx);
    return m_drivers;
}

bool KVAAppUpdataXML::GetDriverItem() {
    using namespace notice_settings;
    std::unique_lock lock(m_mtx);
    ++m_noticesRequested;
    if (!m_remind) {
        KVA_LOG_WARN("not remind me again");
        return false;
    }
    if (!RemindDelayOver()) return false;
    if (m_shown) {
        KVA_LOG_WARN("m_bDriverUpgrading is true return");
        return false;
    }
    std::vector<vtr::tips_sdk::TipsItem> items;
    for (const auto& d : m_drivers) {
        const auto code = d.strDriverID;
        items.push_back({GetDriverIconMarkup(code),
                         GetDriverDisplayName(code, CDriverInfoListMgr::getInstance().getDrvType(code)),
                         d.isInvolovedA ? 2 : 1});
    }
    m_shown = true;
    auto& mgr = *vtr::tips_sdk::KVATipsManager::GetInstance();
    m_tips = mgr.CreateTips(L"DriverUpdate", vtr::tips_sdk::TIPS_NORMAL);
    m_tips->SetTitleTxt(Text(L"IDS_DRVUP_M04_S01") +
                        TextWithNumber(L"IDS_DRVUP_INSTALL_COUNT_NUM", static_cast<std::int64_t>(m_drivers.size())));
    m_tips->SetMode(0);
    m_tips->SetLevel(1);
    m_tips->SetContentTxt(Text(L"IDS_DRVUP_MSGCENTER_CONTENT"));
    m_tips->SetItems(items);
    m_tips->SetCloseOption({Text(L"IDS_DRVUP_MSGCENTER_IDLE_UPDATE"), Text(L"IDS_DRVUP_MSGCENTER_IGNORE")});
    m_tips->SetTitleIcon(kDoctorIcon);
    m_tips->SetDescription(Text(L"IDS_DRVUP_SUGGEST_UP"));
    m_tips->SetDescriptionLevel(1);
    m_tips->SetBtnTxt(Text(L"IDS_DRVUP_M01_S09"));
    m_tips->SetReplyCallback([this](int event, const std::wstring& text) { OnReply(event, text); });
    auto tips = m_tips;
    lock.unlock();
    return mgr.Show(tips);
}

void KVAAppUpdataXML::CloseTips() {
    KVA_LOG_ERROR("CloseTips");
    DropTips();
}

void KVAAppUpdataXML::DropTips() {
    std::shared_ptr<vtr::tips_sdk::TipsNormal> tips;
    {
        std::lock_guard lock(m_mtx);
        tips = std::move(m_tips);
        m_shown = false;
    }
    if (tips) vtr::tips_sdk::KVATipsManager::GetInstance()->CloseTips(tips);
}

void KVAAppUpdataXML::OnReply(int event, const std::wstring& text) {
    if (event == 1) {
        OpenDriverPage();
        CloseTips();
        return;
    }
    if (event != 3) return;
    plat::DWORD checkUpdate = 0;
    {
        std::lock_guard lock(m_mtx);
        m_checkUpdate = text == L"0" ? 1 : 0;
        TakeCloseChoice(text);
        checkUpdate = m_checkUpdate;
        notice_settings::Write(L"checkupdate", m_checkUpdate);
        WriteRemindMode();
    }
    MarkAskedThisBoot();
    notice_settings::ReportFull(notice_settings::kCloseChoiceEvent, {std::to_string(checkUpdate), "1"});
}

void KVAAppUpdataXML::OpenDriverPage() {
    if (DE::IsProcessExists(kMainApp)) {
        if (const plat::HWND main = plat::FindTopWindow(kMainWindowClass)) {
            plat::ShowTopWindow(main, true);
            PostPageName(kDriverPage);
            return;
        }
    }
    // The simulated machine starts a program by listing its process.
    plat::AddProcess(kMainApp);
    std::thread previous;
    {
        std::lock_guard lock(m_mtx);
        previous = std::move(m_opener);
    }
    if (previous.joinable()) {
        m_stop.Set();
        previous.join();
        m_stop.Reset();
    }
    std::lock_guard lock(m_mtx);
    m_opener = std::thread([this] { WaitAndPostPage(); });
}

void KVAAppUpdataXML::WaitAndPostPage() {
    for (int i = 0; i < kOpenerTries; ++i) {
        // The started application is ready once its main window is up.
        if (DE::IsProcessExists(kMainApp) && plat::FindTopWindow(kMainWindowClass)) {
            PostPageName(kDriverPage);
            return;
        }
        if (!plat::Sleep(kOpenerPauseMs, &m_stop)) return;
    }
}

bool KVAAppUpdataXML::PostPageName(const std::string& page) {
    std::vector<char> buffer(kPageBufferBytes, 0);
    std::memcpy(buffer.data(), page.data(), std::min(page.size(), kPageBufferBytes - 1));
    CIPCMessageClient* client = nullptr;
    {
        std::lock_guard lock(m_mtx);
        if (!m_client) m_client = std::make_unique<CIPCMessageClient>(ipc_endpoint::kService, true, false);
        client = m_client.get();
    }
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kAppManager;
    item.nSenderID = ipc_endpoint::kService;
    item.nMessageID = ipc_msg::kAppUpdateNotice;
    item.nReplyMessageID = ipc_msg::kAppNoticeReply;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = static_cast<std::int32_t>(page.size() + 1);
    item.pszMessage = buffer.data();
    return client->PostIPCMessage(item);
}

int KVAAppUpdataXML::NoticesRequested() {
    std::lock_guard lock(m_mtx);
    return m_noticesRequested;
}

bool KVAAppUpdataXML::IsShown() {
    std::lock_guard lock(m_mtx);
    return m_shown;
}

void KVAAppUpdataXML::Reload() {
    DropTips();
    std::lock_guard lock(m_mtx);
    m_checkUpdate = 1;
    ResetRemind();
    m_client.reset();
}
