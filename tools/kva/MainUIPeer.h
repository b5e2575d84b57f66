// The suite's main UI (0x20000) in `kva suite`, as far as the diagnose tool goes: it asks the
// updater whether a newer tool exists (0xF0012) and has it fetched (0xF0013), prints the one-byte
// answers, and listens for the outcome broadcast 0xF0014.
//
// Script steps: mainui diagnose check | mainui diagnose download
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class CIPCMessageClient;

namespace kva {

class CMainUIPeer {
public:
    using Print = std::function<void(const std::string&)>;

    explicit CMainUIPeer(Print print);
    ~CMainUIPeer();

    bool Start();
    bool Run(const std::string& step, std::string* error);

private:
    Print m_print;
    std::atomic<int> m_sync{1};
    std::unique_ptr<CIPCMessageClient> m_client;
};

}  // namespace kva
