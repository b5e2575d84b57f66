// What the two corner notices share: placement in the desktop's corner (DPI-scaled, mirrored for
// right-to-left cultures), placed again 2 s after a display change. UI thread, but for the
// display-change thread, which only sleeps (on the clock) and queues the placement; it is owned
// and ends with the window.
#pragma once

#include <memory>
#include <thread>

#include "common/LayoutWindow.h"
#include "kva/platform/Clock.h"
#include "self_update/CornerPlacement.h"

class CCornerNoticeWnd : public CLayoutWindow {
public:
    ~CCornerNoticeWnd() override;
    // Places the window again after a display change; handles nothing itself.
    DuiLib::LRESULT HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM wParam, DuiLib::LPARAM lParam,
                                  bool& bHandled) override;

protected:
    using CLayoutWindow::CLayoutWindow;

    // Moves the window into its corner; where it went.
    corner::Point PlaceInCorner();
    // A derived destructor calls this first: the display thread may still place the window.
    void StopDisplayThread();

private:
    void OnDisplayChange();

    std::shared_ptr<corner::CLife> m_life = std::make_shared<corner::CLife>();
    std::thread m_displayThread;
    plat::CEvent m_stop;
};
