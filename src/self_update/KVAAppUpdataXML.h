// The driver notice of the suite's message centre: one item per package the user is offered, a
// button that opens the main application on its driver page, and two close options (update when
// idle; ignore) whose choice is stored in the user's settings ("checkupdate", "driverRemind").
//
// GetDriverItem runs on the UI thread or an IPC thread, the answers on the tips library's thread;
// one lock guards the state. The page opener's thread is owned and ends with the object.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KVADownload/UpdateInfo.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Types.h"
#include "self_update/RemindingNotice.h"

class CIPCMessageClient;
namespace vtr::tips_sdk {
class TipsNormal;
}

class KVAAppUpdataXML : public CRemindingNotice {
public:
    static KVAAppUpdataXML* GetInstance();
    ~KVAAppUpdataXML();

    void SetDriverList(std::vector<_TOBEUPDATE_DRIVER_INFO> drivers);
    std::vector<_TOBEUPDATE_DRIVER_INFO> DriverList();
    // Builds and shows the notice for the pending drivers; false when it is not shown (the user
    // asked not to be reminded, a notice is already up, or the tips library refused it).
    bool GetDriverItem();
    void CloseTips();
    // The user's answer to the notice: 1 the button, 3 a close option ("0" or "1").
    void OnReply(int event, const std::wstring& text);

    int NoticesRequested();
    bool IsShown();
    // A fresh process's state: flags as at start, the remind mode read again; the notice closed.
    void Reload();

private:
    KVAAppUpdataXML();
    void DropTips();  // CloseTips without its log line
    void OpenDriverPage();
    bool PostPageName(const std::string& page);
    void WaitAndPostPage();

    std::vector<_TOBEUPDATE_DRIVER_INFO> m_drivers;
    plat::DWORD m_checkUpdate = 1;
    bool m_shown = false;
    std::shared_ptr<vtr::tips_sdk::TipsNormal> m_tips;
    int m_noticesRequested = 0;
    std::unique_ptr<CIPCMessageClient> m_client;  // created with the first page request
    std::thread m_opener;
    plat::CEvent m_stop;
};
