// The suite's installer (0x30000) in `kva suite`: it installs for real on the simulated machine.
//
//   0x30008  setup request (JSON: id, file, updatetype, ...). The package's setup.exe is its
//            manifest: {"id", "version", "name", "exitCode", optional "seconds" (how long the
//            install takes, service clock), "result" (a failing setup result), "restart"}. When a
//            "setup.exe.sig" lies beside it, it must verify with the maker key. Installed: the
//            inventory gets the new version. Answer: 8 bytes, setup result (0 installed) and
//            exit code, back to the connection that waits.
//   0x30006  application setup: the command line is recorded and the management application's
//            inventory version becomes the one its installer's manifest names.
//   0xF0006  "reboot" or "shutdown": the machine reboots (new boot id, volatile keys gone).
//
// Script steps (CSuitePeers passes every "installer ..." line here):
//   installer answer normal | never | late <ms> | bytes <n> | fail <result> <exit code>
//   installer fail-package <id> <result> <exit code>   (that package's setup fails from now on)
// `late` waits service time before answering; `bytes` answers n bytes of zeros instead of 8.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "ClientPeer.h"
#include "kva/platform/Clock.h"

struct tagIPC_MESSAGE_ITEM;

namespace kva {

class CInstallerPeer : public CClientPeer {
public:
    explicit CInstallerPeer(Print print);
    ~CInstallerPeer() override;

    // The words after "installer"; false with `error` for a step it does not understand.
    bool Run(const std::string& step, std::string* error);

private:
    struct CAnswerMode {
        enum class EKind { Normal, Never, Late, Bytes, Fail } kind = EKind::Normal;
        std::uint32_t value = 0;  // ms for Late, byte count for Bytes, result for Fail
        std::uint32_t exitCode = 0;
    };

    void Bind(CIPCMessageClient& client) override;
    void OnSetup(tagIPC_MESSAGE_ITEM& item);
    void OnApplicationSetup(tagIPC_MESSAGE_ITEM& item);
    void OnRestart(tagIPC_MESSAGE_ITEM& item);
    // Installs the package whose installer is `file`; fills the result and exit code.
    void Install(const std::string& id, const std::string& file, std::uint32_t* result, std::uint32_t* exitCode);
    void Answer(const tagIPC_MESSAGE_ITEM& request, const std::string& bytes);

    std::mutex m_mtx;
    CAnswerMode m_mode;  // guarded by m_mtx
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> m_failing;  // id -> (result, exit code), m_mtx
    plat::CEvent m_stop;
};

}  // namespace kva
