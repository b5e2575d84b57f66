// The notice that a new version of the management application exists, with the same two close
// options as the driver notice ("selfupdate", "selfRemind"). Its button starts the full updater,
// unless the installer reports drivers being installed: then the notice asks the user to wait.
//
// SetDriverVersionInfo runs on the UI thread, the answers on the tips library's thread; one lock
// guards the state, the upgrading flag is atomic.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "KVADownload/UpdateInfo.h"
#include "kva/platform/Types.h"
#include "self_update/RemindingNotice.h"

class CIPCMessageClient;
class CKVAFullUpdaterDlg;
namespace vtr::tips_sdk {
class TipsNormal;
}

class KVASelfUpdateXML : public CRemindingNotice {
public:
    static KVASelfUpdateXML* GetInstance();
    ~KVASelfUpdateXML();

    void SetDriverVersionInfo(const _TOBEUPDATE_DRIVER_INFO& record);
    // Asks the application manager (0xF0000, 20000 ms) whether drivers are being installed.
    bool SendDriverStatusMsg();
    void OnReply(int event, const std::wstring& text);

    bool IsUpgrading() const { return m_upgrading; }
    std::shared_ptr<vtr::tips_sdk::TipsNormal> Tips();
    bool HasFullUpdater();
    // A fresh process's state (tests): flags as at start, the remind mode read again, no updater.
    void Reload();

private:
    KVASelfUpdateXML();
    CIPCMessageClient& Client();

    _TOBEUPDATE_DRIVER_INFO m_record;
    std::shared_ptr<vtr::tips_sdk::TipsNormal> m_tips;
    std::unique_ptr<CKVAFullUpdaterDlg> m_fullUpdater;
    std::atomic<bool> m_upgrading{false};
    std::wstring m_btnText;
    std::unique_ptr<CIPCMessageClient> m_client;  // created with the first driver-status question
};
