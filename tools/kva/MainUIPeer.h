// The suite's main UI (0x20000) in `kva suite`, as far as the diagnose tool goes: it asks the
// updater whether a newer tool exists (0xF0012) and has it fetched (0xF0013), prints the one-byte
// answers, and listens for the outcome broadcast 0xF0014.
//
// Script steps: mainui diagnose check | mainui diagnose download
#pragma once

#include <atomic>
#include <string>

#include "ClientPeer.h"

namespace kva {

// Its callbacks print only, so the base's destructor may close the client.
class CMainUIPeer final : public CClientPeer {
public:
    explicit CMainUIPeer(Print print);
    bool Run(const std::string& step, std::string* error);

private:
    void Bind(CIPCMessageClient& client) override;

    std::atomic<int> m_sync{1};
};

}  // namespace kva
