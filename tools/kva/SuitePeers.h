// Peers of `kva suite` that the updater's driver work talks to, each an IPC client of the hub:
//   synergy 0x150000          answers 0x150239 with "1" (in use) or "0", under the request's
//                             second id (0x50015), back to its sender
//   application manager 0xF0000  records the pop-up requests 0x50004 (show) and 0x50006 (close) and
//                             the replies to its download requests; sends 0xF0009/0xF000A
//                             (download), 0xF000B (cancel, typed) and 0xF000C (UI status)
//   system-state publisher    broadcasts 0x300001 on topic 0x300000: the scene word, byte 28
//
// Scripted by lines, the same from a scenario file, from --do on the command line and from the
// standard input:
//   synergy 1|0
//   scene free|busy|<n> [byte28 <v>]
//   appmgr download <json> | appmgr download2 <json> | appmgr cancel <id> | appmgr status <json>
//   mc ...                    the message centre 0x40000 (MsgCentrePeer.h)
//   wait <ms>                 (real time; the script's own pause)
//   # a comment, or an empty line
// Every line the peers receive or run is printed through the `print` callback.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CIPCMessageClient;

namespace kva {

class CMsgCentrePeer;

class CSuitePeers {
public:
    using Print = std::function<void(const std::string&)>;

    explicit CSuitePeers(Print print);
    ~CSuitePeers();

    // Connects the peers to the hub of this process's address; false when one cannot announce.
    bool Start();
    // Runs one script line; false (with `error`) for a line it does not understand or cannot send.
    bool Run(const std::string& line, std::string* error);
    bool RunFile(const std::string& path, std::string* error);

    bool SynergyInUse() const { return m_synergyInUse; }

private:
    bool Publish(int scene, int byte28, std::string* error);
    bool SendToUpdater(int messageId, const std::string& payload, std::string* error);

    Print m_print;
    std::atomic<bool> m_synergyInUse{false};
    std::atomic<int> m_sync{1};
    std::unique_ptr<CIPCMessageClient> m_synergy;
    std::unique_ptr<CIPCMessageClient> m_appManager;
    std::unique_ptr<CIPCMessageClient> m_publisher;
    std::unique_ptr<CMsgCentrePeer> m_msgCentre;
};

}  // namespace kva
