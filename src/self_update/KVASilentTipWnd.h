// The corner notice shown while the new version of the management application installs; it hides
// itself 4 s after it was shown. Lives for the life of the service, hidden until asked. UI thread.
#pragma once

#include <cstdint>
#include <string>

#include "self_update/CornerNoticeWnd.h"

class KVASilentTipWnd : public CCornerNoticeWnd {
public:
    static constexpr DuiLib::UINT kTimerHide = 1210;

    ~KVASilentTipWnd() override;
    std::wstring GetWindowClassName() const override { return L"KVASilentTip"; }
    DuiLib::LRESULT HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM wParam, DuiLib::LPARAM lParam,
                                  bool& bHandled) override;
    void InitWindow() override;
    std::wstring GetSkinFile() override { return L"../../res/layout/SelfUpgrade_SilentTipWnd.xml"; }
    void Notify(DuiLib::TNotifyUI& msg) override;

    void ShowStartInstall();

private:
    std::uint32_t m_startTick = 0;
};
