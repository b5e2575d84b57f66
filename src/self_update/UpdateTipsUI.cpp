#include "self_update/UpdateTipsUI.h"

#include "Util/DriverInfoListMgr.h"
#include "Util/SystemInfo.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"
#include "self_update/NoticeSettings.h"

namespace {

constexpr std::uint32_t kDotsMs = 200;
constexpr std::uint32_t kFinishedPollMs = 500;
constexpr std::uint32_t kOvertimeMs = 1200000;  // 20 minutes
constexpr std::uint32_t kFinishedShownMs = 4000;
constexpr int kBaseHeight = 40;

int ScaledHeight() { return static_cast<int>(SystemInfo::GetSystemDPI() / 96.0 * kBaseHeight); }

std::wstring DisplayName(const std::string& code) {
    return GetDriverDisplayName(code, CDriverInfoListMgr::getInstance().getDrvType(code));
}

}  // namespace

UpdateTipsUI::UpdateTipsUI() : CCornerNoticeWnd(L"UpdateTipsUI", L"..\\..\\res\\layout\\ForceMsgTips.xml") {}

UpdateTipsUI::~UpdateTipsUI() { StopDisplayThread(); }

DuiLib::LRESULT UpdateTipsUI::HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM wParam, DuiLib::LPARAM lParam,
                                            bool& bHandled) {
    const DuiLib::LRESULT result = CCornerNoticeWnd::HandleMessage(uMsg, wParam, lParam, bHandled);
    if (uMsg == DuiLib::WM_SYSKEYDOWN && wParam == DuiLib::VK_F4) bHandled = true;
    return result;
}

void UpdateTipsUI::InitWindow() {
    m_height = ScaledHeight();
    ShowWindow(false);
    m_pDriverTxt = m_PaintManager.FindControl(L"TxtMsgTips");
    m_pDriverWnd = m_PaintManager.FindControl(L"ForceMsgTipsWnd");
    m_pDotTxt = m_PaintManager.FindControl(L"TxtDot");
    if (!m_pDriverTxt || !m_pDriverWnd || !m_pDotTxt) KVA_LOG_ERROR("pDriverTxt or pDriverWnd or pDotTxt is null");
}

void UpdateTipsUI::Resize() {
    const plat::Rect bounds{0, 0, 9999, 9999};
    const plat::Rect text = m_PaintManager.CalcTextRect(m_measure, m_pDriverTxt->GetFont(),
                                                        m_pDriverTxt->GetTextStyle() | DuiLib::DT_CALCRECT, bounds);
    m_height = ScaledHeight();
    // MoveWindow to the stored corner with the measured width, then into the corner again.
    SetWindowPos(0, m_left, m_top, text.right - text.left, m_height, DuiLib::SWP_NOZORDER);
    const corner::Point p = PlaceInCorner();
    m_left = p.x;
    m_top = p.y;
}

void UpdateTipsUI::ShowInstalling(const std::string& driverCode) {
    if (!m_pDriverTxt || !m_pDriverWnd || !m_pDotTxt) {
        KVA_LOG_ERROR("pDriverTxt or pDriverWnd or pDotTxt is null");
        return;
    }
    m_message = notice_settings::TextWithText(L"IDS_DRVUP_M06_S48_EX", DisplayName(driverCode));
    m_pDriverTxt->SetText(m_message);
    m_pDotTxt->SetVisible(true);
    m_measure = m_message + L"AAAA";
    Resize();
    ShowWindow(true);
    m_installStart = plat::GetTickCount();
    m_PaintManager.SetTimer(m_pDriverWnd, kTimerDots, kDotsMs);
}

void UpdateTipsUI::ShowInstalled(const std::string& driverCode) {
    if (!m_pDriverTxt || !m_pDriverWnd || !m_pDotTxt) {
        KVA_LOG_ERROR("pDriverTxt or pDriverWnd or pDotTxt is null");
        return;
    }
    m_message = notice_settings::TextWithText(L"IDS_DRVUP_FINISH_SILENT_INSTALL_ONE_DRIVER", DisplayName(driverCode));
    m_pDotTxt->SetVisible(false);
    m_pDriverTxt->SetText(m_message);
    m_measure = m_message + L"AA";
    Resize();
    m_finishTick = plat::GetTickCount();
    ShowWindow(true);
    m_PaintManager.KillTimer(m_pDriverWnd);
    m_PaintManager.SetTimer(m_pDriverWnd, kTimerFinished, kFinishedPollMs);
}

void UpdateTipsUI::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType != DuiLib::DUI_MSGTYPE_TIMER) return;
    if (!m_pDriverTxt || !m_pDriverWnd || !m_pDotTxt) return;
    const std::uint32_t now = plat::GetTickCount();
    if (msg.wParam == kTimerDots) {
        if (now - m_installStart < kOvertimeMs) {
            m_dots = m_dots == L"...." ? L"" : m_dots + L".";
            m_pDotTxt->SetText(m_dots);
            return;
        }
        KVA_LOG_ERROR("installing driver overtime " << plat::ToUtf8(m_message));
        m_PaintManager.KillTimer(m_pDriverWnd);
        ShowWindow(false);
    } else if (msg.wParam == kTimerFinished && now - m_finishTick >= kFinishedShownMs) {
        ShowWindow(false);
        m_PaintManager.KillTimer(m_pDriverWnd, kTimerFinished);
    }
}
