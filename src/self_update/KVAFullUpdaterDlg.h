// The full updater of the management application: looks the package up again, downloads it with
// a progress tip and hands the installer its command line (0x30006 to the installer 0x30000).
// Created by the application notice on its first button press; the download callbacks run on the
// download library's threads. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "KVADownload/UpdateInfo.h"

class CIPCMessageClient;
namespace vtr::tips_sdk {
class TipsNormal;
}

class CKVAFullUpdaterDlg {
public:
    CKVAFullUpdaterDlg(std::shared_ptr<vtr::tips_sdk::TipsNormal> notice, const _TOBEUPDATE_DRIVER_INFO& record);
    ~CKVAFullUpdaterDlg();

    bool StartDownload();
    void DoingDownDCB(_DownloadCbParam report);
    void FinishDownDCB(_DownloadCbParam report);
    void ErrorDownDCB(_DownloadCbParam report);
    // Sends the installer its command line; 0.
    std::uint32_t PostSetupDriverMsg(const std::string& installPath);

    bool IsDownloading() const { return m_downloading; }
    bool IsInstalling() const { return m_installing; }

    // "<path> /QU /NCRC  -ParaLangage=\"<locale>\"" ("zh-CN" when the locale is empty).
    static std::string CommandLine(const std::string& installPath, const std::string& locale);
    // The user's "LocaleName" of "Control Panel\International".
    static std::string UserLocale();

private:
    void CloseProgressTip();

    std::mutex m_mtx;
    _TOBEUPDATE_DRIVER_INFO m_record;
    std::shared_ptr<vtr::tips_sdk::TipsNormal> m_notice;
    std::shared_ptr<vtr::tips_sdk::TipsNormal> m_progress;
    std::atomic<bool> m_downloading{false};
    std::atomic<bool> m_installing{false};
    std::unique_ptr<CIPCMessageClient> m_client;
};
