// The corner notice shown while the new version of the management application installs; it hides
// itself 4 s after it was shown. Lives for the life of the service, hidden until asked. UI thread.
#pragma once

#include <cstdint>
#include <string>

#include "self_update/CornerNoticeWnd.h"

class KVASilentTipWnd : public CCornerNoticeWnd {
public:
    static constexpr DuiLib::UINT kTimerHide = 1210;

    KVASilentTipWnd();
    ~KVASilentTipWnd() override;
    void InitWindow() override;
    void Notify(DuiLib::TNotifyUI& msg) override;

    void ShowStartInstall();

private:
    std::uint32_t m_startTick = 0;
};
