// The restart reminder window's own behaviour: texts by level, the postpone menu, timer 1111, the
// message-centre request and the restart command.
#include <cstring>

#include "DuiLib/UICulture.h"
#include "DuiLib/UIMenu.h"
#include "IPCMessage/IPCMessageClient.h"
#include "common/FullScreenProbe.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "install/ForceUpRemindRestartManager.h"
#include "ipc/IpcIds.h"
#include "ipc/MsgCenterRequest.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Display.h"
#include "kva/platform/Log.h"
#include "kva/platform/Power.h"

namespace {

constexpr DuiLib::UINT kSysKeyDown = 260;
constexpr DuiLib::WPARAM kKeyF4 = 115;
constexpr std::uint32_t kRequestDisplayMs = 21600000;
constexpr const wchar_t* kMenuLayout = L"..\\..\\res\\layout\\DriverUp_settingMenu.xml";
// Postpone intervals by the menu item's user data; 3 (never) closes the window.
constexpr std::uint32_t kPostponeMs[] = {600000, 3600000, 14400000};
constexpr int kPostponeNever = 3;

struct CLevelTexts {
    const wchar_t* button;
    const wchar_t* content;
};

const CLevelTexts* TextsFor(int level) {
    static const CLevelTexts kTexts[] = {
        {L"IDS_DRVUP_CONFIRM_RESTART_TIPS", L"IDS_DRVUP_NEED_RESTART_TIPS"},
        {L"IDS_DRVUP_CONFIRM_SHUTDOWN_TIPS", L"IDS_DRVUP_NEED_SHUTDOWN_TIPS"},
        {L"IDS_DRVUP_CONFIRM_RESTART_TIPS", L"IDS_DRVUP_NEED_RESTART_AND_AC_TIPS"},
    };
    return level >= RESTART_LEVEL_1 && level <= RESTART_LEVEL_3 ? &kTexts[level - 1] : nullptr;
}

// The postpone menu, read from its layout; an item's place in it is its user data.
class CPostponeMenu : public DuiLib::CMenuWnd {
public:
    using CMenuWnd::CMenuWnd;
    bool Load() {
        if (!m_PaintManager.LoadLayoutFile(DuiLib::CPaintManagerUI::ResolveLayout(kMenuLayout))) return false;
        DuiLib::CControlUI* root = m_PaintManager.FindControl(L"menuRoot");
        for (int i = 0; root && i < root->GetCount(); ++i) {
            DuiLib::CControlUI* item = root->GetItemAt(i);
            item->SetText(DuiLib::UICulture::GetInstance()->GetString(item->GetText()));
        }
        return root != nullptr;
    }
};

int UserData(DuiLib::CControlUI* item) {
    DuiLib::CControlUI* parent = item->GetParent();
    for (int i = 0; parent && i < parent->GetCount(); ++i) {
        if (parent->GetItemAt(i) == item) return i;
    }
    return -1;
}

}  // namespace

ForceUpRemindRestartManager::ForceUpRemindRestartManager(_DRIVER_UPDATE_TYPE type, _RESTART_SYSTEM_LEVEL level)
    : CLayoutWindow(L"ForceUpRemindRestartDlg", L"..\\..\\res\\layout\\DriverUp_ForceUp_Restart_Dlg.xml"),
      m_nRequestType(type),
      m_nRequestLevel(level) {}

ForceUpRemindRestartManager::~ForceUpRemindRestartManager() {
    delete m_pMenu;
    m_pMenu = nullptr;
}

void ForceUpRemindRestartManager::InitWindow() {
    m_pWnd = m_PaintManager.FindControl(L"DriverRestartWnd");
    m_pBtntip = m_PaintManager.FindControl(L"btnNow");
    m_pShowtip = m_PaintManager.FindControl(L"txtContent");
    if (!m_pWnd || !m_pBtntip || !m_pShowtip) {
        KVA_LOG_ERROR("m_pWnd m_pBtntip m_pShowtip is null");
        return;
    }
    m_PaintManager.AddNotifier(this);
    ShowRestartDlg(static_cast<_DRIVER_UPDATE_TYPE>(m_nRequestType),
                   static_cast<_RESTART_SYSTEM_LEVEL>(m_nRequestLevel), false);
}

void ForceUpRemindRestartManager::ShowRestartDlg(_DRIVER_UPDATE_TYPE type, _RESTART_SYSTEM_LEVEL level, bool) {
    if (!m_pWnd || !m_pBtntip || !m_pShowtip) {
        KVA_LOG_ERROR("ShowRestartDlg error,m_pShowtip m_pBtntip m_pWnd is null");
        return;
    }
    if (level > m_nLevel) m_nLevel = level;
    m_type = type;
    if (const CLevelTexts* texts = TextsFor(m_nLevel)) {
        auto* culture = DuiLib::UICulture::GetInstance();
        m_pBtntip->SetText(culture->GetString(texts->button));
        m_pShowtip->SetText(culture->GetString(texts->content));
    }
    UpdateScale();
    m_PaintManager.KillTimer(m_pWnd, kRemindTimer);
    if (!IsFullscreen()) {
        CenterWindow();
        ShowWindow(true);
    } else {
        ShowWindow(false);
        m_PaintManager.SetTimer(m_pWnd, kRemindTimer, kFullScreenRetryMs);
    }
}

void ForceUpRemindRestartManager::UpdateScale() {
    m_fScale = static_cast<float>(plat::GetSystemDpi()) / 96.0f;
    m_nMargin = static_cast<int>(m_fScale * 30);
}

void ForceUpRemindRestartManager::PostPoPupMsgToMC() {
    if (IsFullscreen()) {
        KVA_LOG_WARN("Skip the RestartWindow when full screen");
        m_nRemindInterval = 600000;
        return;
    }
    CMsgCenterRequest request;
    request.kind = CMsgCenterRequest::kKindPopup;
    request.firstOwnerId = reinterpret_cast<std::uintptr_t>(this);
    request.secondOwnerId = 0;
    request.displayTimeMs = kRequestDisplayMs;
    request.kindValue = reinterpret_cast<std::uintptr_t>(this);
    std::vector<char> bytes = request.Serialize();
    if (bytes.size() != request.ComputedSize()) {
        KVA_LOG_ERROR("restart request serialised to " << bytes.size() << " bytes, not " << request.ComputedSize());
        return;
    }
    if (!m_ipcClient) {
        KVA_LOG_ERROR("m_ipcClient is null");
        return;
    }
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kMessageCentre;
    item.nSenderID = -1;
    item.nMessageID = ipc_msg::kMsgCenterRequest;
    item.nReplyMessageID = ipc_msg::kMsgCenterSecondId;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = static_cast<std::int32_t>(bytes.size());
    item.pszMessage = bytes.data();
    if (!m_ipcClient->PostIPCMessage(item)) KVA_LOG_ERROR("restart request to the message centre not posted");
}

void ForceUpRemindRestartManager::PostRestartMsg() {
    if (!m_ipcClient) {
        KVA_LOG_ERROR("m_ipcClient is null");
        return;
    }
    std::string command = m_nLevel == RESTART_LEVEL_2 ? "shutdown" : "reboot";
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kInstaller;
    item.nSenderID = -1;
    item.nMessageID = ipc_msg::kRestartRequest;
    item.nReplyMessageID = -1;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = static_cast<std::int32_t>(command.size() + 1);
    item.pszMessage = command.data();
    if (!m_ipcClient->PostIPCMessage(item)) KVA_LOG_ERROR("RestartMsg msg send failed");
}

void ForceUpRemindRestartManager::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType == DuiLib::DUI_MSGTYPE_MENU) {
        SendMessage(kMenuItemChosen, reinterpret_cast<DuiLib::WPARAM>(msg.pSender));
        return;
    }
    if (msg.wParam == kRemindTimer) {
        OnRemindTimer();
        return;
    }
    if (msg.sType != DuiLib::DUI_MSGTYPE_CLICK || !msg.pSender) return;
    const std::wstring& name = msg.pSender->GetName();
    if (name == L"btnNow") {
        ReportEvent(evt::kRestartChoice, m_type, m_nLevel);
        if (m_nLevel == RESTART_LEVEL_3) {
            plat::PowerStatus power;
            const bool known = plat::GetPowerStatus(&power);
            ReportEvent(evt::kRestartPower, known ? power.ACLineStatus : 0, known ? power.BatteryLifePercent : 0);
        }
        PostRestartMsg();
        Close();
    } else if (name == L"btnPostpone" || name == L"btnFolder") {
        OpenPostponeMenu(msg.pSender);
        ReportEvent(evt::kRestartChoice, m_type);
        m_dwLastShown = plat::GetTickCount();
    }
}

void ForceUpRemindRestartManager::OpenPostponeMenu(DuiLib::CControlUI*) {
    delete m_pMenu;
    auto* menu = new CPostponeMenu(this, GetHWND());
    m_pMenu = menu;
    // Controls have no geometry of their own here: the menu opens at the window's corner.
    auto info = plat::GetWindowInfo(GetHWND());
    const int x = info ? info->rect.left : 0;
    const int y = info ? info->rect.bottom : 0;
    if (!menu->Load() || !menu->Init(x, y)) KVA_LOG_ERROR("the postpone menu cannot be opened");
}

DuiLib::LRESULT ForceUpRemindRestartManager::HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM wParam,
                                                           DuiLib::LPARAM lParam, bool& bHandled) {
    bHandled = true;
    if (uMsg == kSysKeyDown && wParam == kKeyF4) return 0;  // Alt+F4 must not close the reminder
    if (uMsg == kDpiChanged) {
        UpdateScale();
        return 0;
    }
    if (uMsg == kMenuItemChosen) {
        auto* item = reinterpret_cast<DuiLib::CControlUI*>(wParam);
        if (!item) {
            KVA_LOG_ERROR(" menuItem is null");
            return 0;
        }
        OnMenuItem(item);
        return 0;
    }
    return WindowImplBase::HandleMessage(uMsg, wParam, lParam, bHandled);
}

void ForceUpRemindRestartManager::OnMenuItem(DuiLib::CControlUI* item) {
    ShowWindow(false);
    const int choice = UserData(item);
    if (choice >= 0 && choice < kPostponeNever) {
        m_nRemindInterval = kPostponeMs[choice];
        RestartRemindTimer(m_nRemindInterval);
    } else if (choice == kPostponeNever) {
        Close();
    }
}

void ForceUpRemindRestartManager::RestartRemindTimer(std::uint32_t ms) {
    if (!m_pWnd) return;
    m_PaintManager.KillTimer(m_pWnd, kRemindTimer);
    m_PaintManager.SetTimer(m_pWnd, kRemindTimer, ms);
}

void ForceUpRemindRestartManager::OnRemindTimer() {
    const std::uint32_t now = plat::GetTickCount();
    if (now - m_dwLastShown < m_nRemindInterval) return;
    if (IsFullscreen()) {
        ShowWindow(false);
        m_dwLastShown = now;
        RestartRemindTimer(kFullScreenRetryMs);
        return;
    }
    ShowWindow(true);
    PostPoPupMsgToMC();
    if (m_pWnd) m_PaintManager.KillTimer(m_pWnd, kRemindTimer);
}
