// The peers of `kva suite` that the notices talk to:
//   application manager 0xF0000  answers the driver pop-up request 0x50004 with its answer 0x50005
//                             ("flag;id;version;…", default "1"), answers the driver-status question
//                             0x3000B with "0" or "1", and sends 0x50008 (close the driver notice)
//   settings window 0x3A0000  answers 0x3A0001 with 0x3A0002 (one byte, default 1); sends 0x3A0003
//   main UI 0x20000           shows the new-version notice 0xF0002
// Steps:
//   appmgr answer <text> | appmgr drvstatus 0|1 | appmgr close [value]
//   settings answer 0|1 | settings close
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

class CIPCMessageClient;

namespace kva {

class CNoticePeers {
public:
    using Print = std::function<void(const std::string&)>;

    explicit CNoticePeers(Print print);
    ~CNoticePeers();

    bool Start();
    // "appmgr <what> …" steps of this file; false with `error` for one it does not know.
    bool RunAppMgr(const std::string& what, const std::string& rest, std::string* error);
    bool RunSettings(std::istringstream& in, std::string* error);

private:
    bool Post(CIPCMessageClient& from, int messageId, const std::string& payload, std::string* error);

    Print m_print;
    std::mutex m_mtx;
    std::string m_popupAnswer = "1";  // guarded by m_mtx
    std::atomic<bool> m_driversInstalling{false};
    std::atomic<int> m_settingsAnswer{1};
    std::unique_ptr<CIPCMessageClient> m_appManager;
    std::unique_ptr<CIPCMessageClient> m_settings;
    std::unique_ptr<CIPCMessageClient> m_mainUi;
};

}  // namespace kva
