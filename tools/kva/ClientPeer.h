// What the peers of `kva suite` that speak through one IPC client share: the callback that prints
// each line they receive or run, and the client itself, which Start connects under the peer's
// endpoint once the peer has bound its callbacks. The client's threads run those callbacks.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CIPCMessageClient;

namespace kva {

class CClientPeer {
public:
    using Print = std::function<void(const std::string&)>;

    CClientPeer(const CClientPeer&) = delete;
    CClientPeer& operator=(const CClientPeer&) = delete;
    virtual ~CClientPeer();

    // False when the hub did not answer within 5 s.
    bool Start();

protected:
    CClientPeer(Print print, int endpoint);

    virtual void Bind(CIPCMessageClient& client) = 0;
    // A peer whose callbacks use its own members calls this first in its destructor: a running
    // callback finishes, and none runs after it.
    void CloseClient();

    Print m_print;
    std::unique_ptr<CIPCMessageClient> m_client;

private:
    int m_endpoint;
};

}  // namespace kva
