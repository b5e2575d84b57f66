// The restart reminder: a window kept hidden off-screen as the owner of the message centre's
// restart request, carrying the user's answers — restart (or shut down) now, which asks the
// installer for it, or postpone by 10 minutes, 1 hour, 4 hours or for good. A window's level only
// rises. UI thread only (the destructor may run on the service's thread at unload).
#pragma once

#include <cstdint>
#include <string>

#include "common/LayoutWindow.h"
#include "driver_update/UpdateRecords.h"

class CIPCMessageClient;
namespace DuiLib {
class CMenuWnd;
}

class ForceUpRemindRestartManager : public CLayoutWindow {
public:
    static constexpr DuiLib::UINT kRemindTimer = 1111;
    static constexpr std::uint32_t kFullScreenRetryMs = 10000;
    static constexpr DuiLib::UINT kMenuItemChosen = 1145;  // WPARAM: the menu item control
    static constexpr DuiLib::UINT kDpiChanged = 736;

    ForceUpRemindRestartManager(_DRIVER_UPDATE_TYPE type, _RESTART_SYSTEM_LEVEL level);
    ~ForceUpRemindRestartManager() override;

    DuiLib::LRESULT HandleMessage(DuiLib::UINT uMsg, DuiLib::WPARAM wParam, DuiLib::LPARAM lParam,
                                  bool& bHandled) override;
    void InitWindow() override;
    void Notify(DuiLib::TNotifyUI& msg) override;

    void ShowRestartDlg(_DRIVER_UPDATE_TYPE type, _RESTART_SYSTEM_LEVEL level, bool unused);
    void PostRestartMsg();
    void PostPoPupMsgToMC();

    CIPCMessageClient* m_ipcClient = nullptr;

    int Level() const { return m_nLevel; }
    std::uint32_t RemindInterval() const { return m_nRemindInterval; }
    float Scale() const { return m_fScale; }
    int Margin() const { return m_nMargin; }

private:
    void UpdateScale();
    void OpenPostponeMenu(DuiLib::CControlUI* at);
    void OnMenuItem(DuiLib::CControlUI* item);
    void OnRemindTimer();
    void RestartRemindTimer(std::uint32_t ms);

    int m_type = 0;
    DuiLib::CMenuWnd* m_pMenu = nullptr;
    DuiLib::CControlUI* m_pWnd = nullptr;
    DuiLib::CControlUI* m_pBtntip = nullptr;
    DuiLib::CControlUI* m_pShowtip = nullptr;
    std::uint32_t m_dwLastShown = 0;
    int m_nLevel = RESTART_LEVEL_NONE;
    int m_nMargin = 30;
    float m_fScale = 1.0f;
    std::uint32_t m_nRemindInterval = 3600000;
    int m_nRequestType;
    int m_nRequestLevel;
};
