#include "self_update/CornerNoticeWnd.h"

#include "DuiLib/UICulture.h"
#include "DuiLib/UIMainQueue.h"
#include "Util/SystemInfo.h"

namespace {
constexpr std::uint32_t kDisplaySettleMs = 2000;
}

CCornerNoticeWnd::~CCornerNoticeWnd() { StopDisplayThread(); }

DuiLib::LRESULT CCornerNoticeWnd::HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM, DuiLib::LPARAM, bool& bHandled) {
    bHandled = false;
    if (uMsg == DuiLib::WM_DISPLAYCHANGE) OnDisplayChange();
    return 0;
}

void CCornerNoticeWnd::StopDisplayThread() {
    {
        std::lock_guard lock(m_life->mtx);
        m_life->alive = false;
    }
    m_stop.Set();
    if (m_displayThread.joinable() && m_displayThread.get_id() != std::this_thread::get_id()) m_displayThread.join();
}

corner::Point CCornerNoticeWnd::PlaceInCorner() {
    const auto self = plat::GetWindowInfo(GetHWND());
    const auto desk = plat::GetWindowInfo(plat::DesktopWindow());
    if (!self || !desk) return {};
    const double scale = SystemInfo::GetSystemDPI() / 96.0;
    const bool rtl = DuiLib::UICulture::GetInstance()->getDirection() == 1;
    const corner::Point p = corner::Place(self->rect, desk->rect, scale, rtl);
    SetWindowPos(DuiLib::HWND_TOPMOST, p.x, p.y, 0, 0,
                 DuiLib::SWP_NOSIZE | DuiLib::SWP_NOZORDER | DuiLib::SWP_NOACTIVATE);
    return p;
}

void CCornerNoticeWnd::OnDisplayChange() {
    // One pending re-placement is enough: a newer change restarts the wait.
    m_stop.Set();
    if (m_displayThread.joinable()) m_displayThread.join();
    m_stop.Reset();
    std::weak_ptr<corner::CLife> life = m_life;
    // Tracked: until it sleeps it counts as busy, so a test that waits for idleness sees the wait begun.
    m_displayThread = std::thread(plat::CClock::Get().Tracked([this, life] {
        if (!plat::Sleep(kDisplaySettleMs, &m_stop)) return;
        DuiLib::UIMainQueue::getInstance()->dispatch([this, life] {
            auto l = life.lock();
            if (!l) return;
            std::lock_guard lock(l->mtx);
            if (l->alive) PlaceInCorner();
        });
    }));
}
