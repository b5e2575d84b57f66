#include "self_update/KVASilentTipWnd.h"

#include "kva/platform/Log.h"
#include "self_update/NoticeSettings.h"

namespace {
constexpr std::uint32_t kTickMs = 1000;
constexpr std::uint32_t kShownMs = 4000;
}  // namespace

KVASilentTipWnd::KVASilentTipWnd()
    : CCornerNoticeWnd(L"KVASilentTip", L"../../res/layout/SelfUpgrade_SilentTipWnd.xml") {}

KVASilentTipWnd::~KVASilentTipWnd() { StopDisplayThread(); }

void KVASilentTipWnd::InitWindow() {
    PlaceInCorner();
    ShowWindow(false);
}

void KVASilentTipWnd::ShowStartInstall() {
    ShowWindow(true);
    DuiLib::CControlUI* text = m_PaintManager.FindControl(L"TxtMsgTips");
    DuiLib::CControlUI* holder = m_PaintManager.FindControl(L"SilenMsgTipsWnd");
    if (!text || !holder) {
        KVA_LOG_ERROR("pTxt or pVer is null");
        return;
    }
    text->SetText(notice_settings::Text(L"IDS_SELF_UPDATE_INSTALL_TIPS"));
    m_startTick = plat::GetTickCount();
    m_PaintManager.KillTimer(holder, kTimerHide);
    m_PaintManager.SetTimer(holder, kTimerHide, kTickMs);
}

void KVASilentTipWnd::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType == DuiLib::DUI_MSGTYPE_CLICK && msg.pSender && msg.pSender->GetName() == L"BtnCloseUI") {
        Close(1);
        return;
    }
    if (msg.sType != DuiLib::DUI_MSGTYPE_TIMER) return;
    DuiLib::CControlUI* text = m_PaintManager.FindControl(L"TxtMsgTips");
    DuiLib::CControlUI* holder = m_PaintManager.FindControl(L"SilenMsgTipsWnd");
    if (!text || !holder) {
        KVA_LOG_ERROR("pTxt or pVer is null");
        return;
    }
    if (msg.wParam == kTimerHide && plat::GetTickCount() - m_startTick >= kShownMs) {
        ShowWindow(false);
        m_PaintManager.KillTimer(holder, kTimerHide);
    }
}
