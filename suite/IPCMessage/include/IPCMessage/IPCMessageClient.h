// CIPCMessageClient: one endpoint of the suite's IPC network (IPCHub.h routes between them).
//
// Construction: CIPCMessageClient(endpointId, bReceive, bInlineDispatch)
//   bReceive         true: the client announces `endpointId` to the hub and receives: items
//                    addressed to that id reach the callbacks registered for their message id,
//                    broadcasts of subscribed topics reach the subscription callback, and
//                    SendIPCMessage can wait for replies. false: a send-only client (posting and
//                    publishing only; no threads, nothing is ever delivered to it; SendIPCMessage
//                    and SubscribeIPCMessage return false). A client of endpoint id -1 is
//                    always send-only.
//   bInlineDispatch  true: one library thread both receives and runs the callbacks; a callback
//                    must then never block, and SendIPCMessage called from it returns false.
//                    false (what the suite uses): two library threads take turns: the one that
//                    receives an item runs its callback while the other goes on receiving, so a
//                    callback may block, post, or even SendIPCMessage. The second thread runs only
//                    while callbacks come; an idle client has one.
// Several clients may announce the same endpoint id; each of them receives what is addressed to it,
// except the answer to a SendIPCMessage, which reaches only the client that waits for it, even when
// the request named another endpoint as its sender (HubRouter.h).
//
// Threads: every call may come from any thread. Callbacks run one at a time, in arrival order, on
// the library's threads (above); the item and its payload are valid only during the call, and an
// empty payload is a null pszMessage. A received payload is always followed by a 0 byte that
// nMessageLen does not count. An exception thrown by a callback is caught and logged.
// After UnRegisterMessageCallback (or a replacing registration) returns, the old callback is not
// running and will not run again (unless it is called from a callback itself, which cannot wait
// for itself). After the destructor returns no callback runs; do not destroy a client from its own
// callback.
//
// Transport: ZeroMQ, at HubEndpoint() as it reads at construction. The client reconnects by
// itself when the hub restarts and announces its endpoint and subscriptions again. A message goes
// into a bounded queue (ZeroMQ's high-water mark, 1000 messages); when that is full, posting waits
// up to 100 ms for room and then refuses it with false, as it refuses a payload above
// kMaxPayloadBytes. Messages still queued at destruction get up to half a second to leave.
// Time: SendIPCMessage's time-out is service time (plat::CClock: the fake clock drives it in
// tests, and the client's destruction ends the wait); the transport's own timers (reconnection,
// the 5-second re-announcement, the wait for room in a full queue) run on real time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "IPCMessage/IPCMessageItem.h"

struct CIPCClientStats {
    std::uint64_t posted = 0;          // items accepted by PostIPCMessage, PublishIPCMessage, SendIPCMessage
    std::uint64_t refused = 0;         // items refused: bad length, payload above the limit, queue full
    std::uint64_t received = 0;        // items received (replies included)
    std::uint64_t unhandled = 0;       // items without a callback (and no default callback)
    std::uint64_t callbackErrors = 0;  // callbacks that threw
    std::uint64_t malformed = 0;       // frames from the hub that did not decode
};

class CIPCMessageClient {
public:
    using MessageCallback = std::function<void(tagIPC_MESSAGE_ITEM&)>;

    CIPCMessageClient(int nEndpointId, bool bReceive, bool bInlineDispatch);
    CIPCMessageClient(const CIPCMessageClient&) = delete;
    CIPCMessageClient& operator=(const CIPCMessageClient&) = delete;
    ~CIPCMessageClient();

    // Stops the client as its destruction does while the object lives on: pending SendIPCMessage
    // calls return false, no callback runs after it returns (it waits for a running one, unless
    // called from it), later calls fail. For owners whose handlers must stop before their own
    // members go.
    void Close();

    // Broadcasts of `nTopic` (a multiple of 0x10000) reach the subscription callback from now on.
    // `nMessageFilter` 0: every message of the topic; otherwise only that message id.
    bool SubscribeIPCMessage(unsigned int nTopic, unsigned int nMessageFilter);
    // Sends `item` as it is; the payload is copied before the call returns. True when accepted.
    bool PostIPCMessage(const tagIPC_MESSAGE_ITEM& item);
    // Posts `request` and waits up to `nTimeoutMs` (service time) for the item addressed back to
    // this endpoint with the request's nMessageID and nSyncMessageId. True when it came: `reply`
    // then holds it, its payload valid until this thread's next SendIPCMessage. Replies are not
    // given to callbacks.
    bool SendIPCMessage(const tagIPC_MESSAGE_ITEM& request, tagIPC_MESSAGE_ITEM& reply, unsigned int nTimeoutMs);
    // Posts `item` as a broadcast: nReceiverID goes out as -1, the other fields as given.
    bool PublishIPCMessage(const tagIPC_MESSAGE_ITEM& item);
    // True when a callback was registered under the id.
    bool UnRegisterMessageCallback(int nMessageId);

    // Registers `pfn` on `pObject` for items with message id `nMessageId`; a later registration of
    // the same id replaces this one. Takes the client's lock.
    template <class T>
    bool RegisterMessageCallback(int nMessageId, T* pObject, void (T::*pfn)(tagIPC_MESSAGE_ITEM&)) {
        if (pObject == nullptr || pfn == nullptr) return false;
        return BindMessageCallback(nMessageId, [pObject, pfn](tagIPC_MESSAGE_ITEM& item) { (pObject->*pfn)(item); });
    }
    // The one callback for subscribed broadcasts (replaces the earlier one). Takes the client's lock.
    template <class T>
    bool SetSubscribeCallback(T* pObject, void (T::*pfn)(tagIPC_MESSAGE_ITEM&)) {
        if (pObject == nullptr || pfn == nullptr) return false;
        return BindSubscribeCallback([pObject, pfn](tagIPC_MESSAGE_ITEM& item) { (pObject->*pfn)(item); });
    }

    // The same with any callable (tools, tests, peers of `kva suite`).
    bool BindMessageCallback(int nMessageId, MessageCallback callback);
    bool BindSubscribeCallback(MessageCallback callback);
    // Addressed items for which no callback is registered (tools that show or answer everything).
    bool BindDefaultCallback(MessageCallback callback);

    int EndpointId() const;
    // Waits (real time) until the hub has acknowledged this client's announcement and every
    // subscription made before the call. False on time-out, and for a send-only client.
    bool WaitForHub(std::chrono::milliseconds realTimeout);
    CIPCClientStats Stats() const;

    struct Impl;

private:
    std::shared_ptr<Impl> m_impl;
};
