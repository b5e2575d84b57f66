// What the two corner notices share: placement in the desktop's corner (DPI-scaled, mirrored for
// right-to-left cultures), placed again 2 s after a display change. UI thread, but for the
// display-change thread, which only sleeps (on the clock) and queues the placement; it is owned
// and ends with the window.
#pragma once

#include <memory>
#include <thread>

#include "DuiLib/WindowImplBase.h"
#include "kva/platform/Clock.h"
#include "self_update/CornerPlacement.h"

class CCornerNoticeWnd : public DuiLib::WindowImplBase {
public:
    ~CCornerNoticeWnd() override;

protected:
    // Moves the window into its corner; where it went.
    corner::Point PlaceInCorner();
    // Call from HandleMessage on WM_DISPLAYCHANGE.
    void OnDisplayChange();
    void StopDisplayThread();

private:
    std::shared_ptr<corner::CLife> m_life = std::make_shared<corner::CLife>();
    std::thread m_displayThread;
    plat::CEvent m_stop;
};
