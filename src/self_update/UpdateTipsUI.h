// The corner notice of silent driver installs: "installing <driver>" with running dots, then
// "<driver> installed" for 4 s. Lives for the life of the service, hidden until asked; an install
// that has not finished within 20 minutes only hides it. UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "self_update/CornerNoticeWnd.h"

class UpdateTipsUI : public CCornerNoticeWnd {
public:
    static constexpr DuiLib::UINT kTimerDots = 1110;
    static constexpr DuiLib::UINT kTimerFinished = 1111;

    UpdateTipsUI();
    ~UpdateTipsUI() override;
    // Alt+F4 does not close the notice.
    DuiLib::LRESULT HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM wParam, DuiLib::LPARAM lParam,
                                  bool& bHandled) override;
    void InitWindow() override;
    void Notify(DuiLib::TNotifyUI& msg) override;

    // `driverCode` is the package's type code.
    void ShowInstalling(const std::string& driverCode);
    void ShowInstalled(const std::string& driverCode);

private:
    void Resize();

    std::uint32_t m_installStart = 0;
    std::uint32_t m_finishTick = 0;
    std::wstring m_dots;
    std::wstring m_message;
    std::wstring m_measure;
    DuiLib::CControlUI* m_pDriverTxt = nullptr;
    DuiLib::CControlUI* m_pDriverWnd = nullptr;
    DuiLib::CControlUI* m_pDotTxt = nullptr;
    int m_left = 0;
    int m_top = 0;
    int m_height = 0;
};
