// CIPCMessageClient and CHub in one process (inproc:// hub), with the fake clock.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <stdexcept>
#include <thread>

#include "IPCMessage/IPCFrame.h"
#include "IpcTestKit.h"
#include "ipc/IPCReply.h"
#include "kva/platform/Clock.h"

namespace {

using kvatest::Ask;
using kvatest::CRecorder;
using kvatest::kRealTimeout;
using Ms = std::chrono::milliseconds;

class IpcClientTest : public kvatest::CIpcTest {
protected:
    // While a callback of `service` blocks, asks the installer (0x30000) from this thread: true
    // when the answer came, which needs the client's other thread to receive.
    static bool AskedWhileACallbackBlocks(CIPCMessageClient& service, CIPCMessageClient& ui) {
        std::promise<void> entered, release;
        auto released = release.get_future().share();
        service.BindMessageCallback(0x50005, [&](tagIPC_MESSAGE_ITEM&) {
            entered.set_value();
            released.wait();  // until the question below has had its answer
        });
        std::string none;
        if (!ui.PostIPCMessage(Item(0x50000, 0xF0000, 0x50005, none))) return false;
        entered.get_future().wait();
        const bool answered = Ask(service, 0x30000, 0x50000, 0x30008).has_value();
        release.set_value();
        service.UnRegisterMessageCallback(0x50005);
        return answered;
    }
};

// A class whose member function is registered, as the library registers its handlers.
struct CHandler {
    CRecorder seen;
    void OnRecv(tagIPC_MESSAGE_ITEM& item) { seen.Record(item); }
};

TEST_F(IpcClientTest, RoutesByReceiverAndCopiesThePayloadBeforePostReturns) {
    CHandler onB, onC;  // callback targets outlive the clients that call them
    auto a = Client(0x50000);
    auto b = Client(0xF0000);
    auto c = Client(0x30000);
    ASSERT_TRUE(b->RegisterMessageCallback(0xF0001, &onB, &CHandler::OnRecv));
    ASSERT_TRUE(c->RegisterMessageCallback(0xF0001, &onC, &CHandler::OnRecv));

    std::string text = "Driver";  // sent without its terminator
    tagIPC_MESSAGE_ITEM item = Item(0xF0000, 0x50000, 0xF0001, text);
    item.nReplyMessageID = 0x50003;
    item.nSyncMessageId = 77;
    ASSERT_TRUE(a->PostIPCMessage(item));
    text.assign("XXXXXX");  // the caller may reuse its buffer at once

    ASSERT_TRUE(onB.seen.WaitFor(1));
    const auto got = onB.seen.Items()[0];
    EXPECT_EQ(got.payload, "Driver");
    EXPECT_TRUE(got.terminated);
    EXPECT_EQ(got.item.nSenderID, 0x50000);
    EXPECT_EQ(got.item.nReplyMessageID, 0x50003);
    EXPECT_EQ(got.item.nReserved, -1);
    EXPECT_EQ(got.item.nSyncMessageId, 77);

    // Items from one sender arrive in order: when C has the second item, it would have had the first.
    std::string none;
    ASSERT_TRUE(a->PostIPCMessage(Item(0x30000, 0x50000, 0xF0001, none)));
    ASSERT_TRUE(onC.seen.WaitFor(1));
    EXPECT_EQ(onC.seen.Count(), 1u);
    EXPECT_EQ(onB.seen.Count(), 1u);
    EXPECT_EQ(onC.seen.Items()[0].item.nMessageLen, 0);
}

TEST_F(IpcClientTest, ItemsForAnEndpointNotConnectedAreDroppedAndCounted) {
    CRecorder onB;
    auto a = Client(0x50000);
    auto b = Client(0xF0000);
    b->BindMessageCallback(0xF0001, onB.Callback());
    std::string text = "lost";
    ASSERT_TRUE(a->PostIPCMessage(Item(0x200000, 0x50000, 0x200003, text)));  // accepted: the hub drops it
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0001, text)));
    ASSERT_TRUE(onB.WaitFor(1));
    // The hub handled the first item completely before it took the second (same connection).
    EXPECT_EQ(Hub().Stats().dropped, 1u);
    EXPECT_EQ(Hub().Stats().items, 2u);
}

TEST_F(IpcClientTest, BroadcastReachesTheTopicsSubscribersAndNoOneElse) {
    CRecorder got1, got2, gotOnlyTwo, gotOther, addressed;
    auto publisher = Client(0x2A0000);
    auto s1 = Client(0x50000);
    auto s2 = Client(0x360000);
    auto onlyTwo = Client(0x580000);
    auto other = Client(0xF0000);
    s1->BindSubscribeCallback(got1.Callback());
    s2->BindSubscribeCallback(got2.Callback());
    onlyTwo->BindSubscribeCallback(gotOnlyTwo.Callback());
    other->BindSubscribeCallback(gotOther.Callback());
    other->BindMessageCallback(0x300001, addressed.Callback());  // a callback by id is not a subscription
    ASSERT_TRUE(s1->SubscribeIPCMessage(0x300000, 0));
    ASSERT_TRUE(s2->SubscribeIPCMessage(0x300000, 0));
    ASSERT_TRUE(onlyTwo->SubscribeIPCMessage(0x300000, 0x300002));
    ASSERT_TRUE(other->SubscribeIPCMessage(0xF0000, 0));
    EXPECT_FALSE(other->SubscribeIPCMessage(0x300001, 0)) << "a topic has no low bits";
    for (auto* c : {s1.get(), s2.get(), onlyTwo.get(), other.get()}) ASSERT_TRUE(c->WaitForHub(kRealTimeout));

    std::string state(32, '\0');
    state[0] = 1;
    tagIPC_MESSAGE_ITEM item = Item(0x12345, -1, 0x300001, state);  // the receiver goes out as -1
    ASSERT_TRUE(publisher->PublishIPCMessage(item));
    item.nMessageID = 0x300002;
    ASSERT_TRUE(publisher->PublishIPCMessage(item));
    item.nMessageID = 0xF0014;
    ASSERT_TRUE(publisher->PublishIPCMessage(item));

    ASSERT_TRUE(got1.WaitFor(2));
    ASSERT_TRUE(got2.WaitFor(2));
    ASSERT_TRUE(gotOnlyTwo.WaitFor(1));
    ASSERT_TRUE(gotOther.WaitFor(1));
    EXPECT_EQ(got1.Items()[0].item.nReceiverID, -1);
    EXPECT_EQ(got1.Items()[0].item.nMessageID, 0x300001);
    EXPECT_EQ(got1.Items()[0].payload, state);
    EXPECT_EQ(gotOnlyTwo.Items()[0].item.nMessageID, 0x300002);
    EXPECT_EQ(gotOther.Items()[0].item.nMessageID, 0xF0014);
    // Every broadcast was handed out by the time `other` had the last one.
    EXPECT_EQ(got1.Count(), 2u);
    EXPECT_EQ(gotOnlyTwo.Count(), 1u);
    EXPECT_EQ(gotOther.Count(), 1u);
    EXPECT_EQ(addressed.Count(), 0u);
}

// A peer that answers requests of one message id as the library's handlers do.
// Declared before the client it answers through, so it outlives that client's callbacks.
struct CResponder {
    CIPCMessageClient* client = nullptr;
    std::string answer = "1";
    void OnRequest(tagIPC_MESSAGE_ITEM& request) {
        tagIPC_MESSAGE_ITEM reply = MakeIPCReply(request, client->EndpointId(), answer.data(),
                                                 static_cast<std::int32_t>(answer.size()));
        client->PostIPCMessage(reply);
    }
    // Answers `msg` through `c` from now on.
    void Serve(CIPCMessageClient& c, std::int32_t msg) {
        client = &c;
        c.RegisterMessageCallback(msg, this, &CResponder::OnRequest);
    }
};

TEST_F(IpcClientTest, SendIsAnsweredByAReplyThatCopiesTheSyncId) {
    CResponder responder;
    auto asker = Client(0x360000);
    auto manager = Client(0xF0000);
    responder.Serve(*manager, 0x3000B);

    const auto sync = static_cast<std::int32_t>(plat::GetTickCount());
    tagIPC_MESSAGE_ITEM reply;
    EXPECT_EQ(Ask(*asker, 0xF0000, 0x360000, 0x3000B, sync, &reply, "1"), "1");
    EXPECT_EQ(reply.nSyncMessageId, sync);
    EXPECT_EQ(reply.nMessageID, 0x3000B);
    EXPECT_EQ(reply.nReceiverID, 0x360000);
    EXPECT_EQ(reply.nSenderID, 0xF0000);
    EXPECT_EQ(reply.nReplyMessageID, -1);
}

TEST_F(IpcClientTest, AnAnswerOnBehalfOfAnotherEndpointReachesTheAskerAlone) {
    CResponder installer;
    auto installerClient = Client(0x30000);
    installer.Serve(*installerClient, 0x30008);
    auto service = Client(0x50000);
    auto notices = Client(0x50000);  // a second client of the same id
    auto appManager = Client(0xF0000);
    CRecorder atAppManager, atNotices, atService;
    appManager->BindDefaultCallback(atAppManager.Callback());
    notices->BindDefaultCallback(atNotices.Callback());
    service->BindDefaultCallback(atService.Callback());

    tagIPC_MESSAGE_ITEM reply;
    ASSERT_TRUE(Ask(*service, 0x30000, 0xF0000, 0x30008, 4242, &reply, "{}"));
    EXPECT_EQ(reply.nReceiverID, 0xF0000);
    EXPECT_EQ(reply.nSyncMessageId, 4242);

    // Both clients of 0x50000 get what is simply addressed to it; the application manager got
    // nothing of the exchange above.
    std::string ping = "p";
    ASSERT_TRUE(appManager->PostIPCMessage(Item(0x50000, 0xF0000, 0x50005, ping)));
    ASSERT_TRUE(atNotices.WaitFor(1));
    ASSERT_TRUE(atService.WaitFor(1));
    std::string mark = "m";
    ASSERT_TRUE(service->PostIPCMessage(Item(0xF0000, 0x50000, 0x50013, mark)));
    ASSERT_TRUE(atAppManager.WaitFor(1));
    ASSERT_EQ(atAppManager.Count(), 1u);
    EXPECT_EQ(atAppManager.Items()[0].item.nMessageID, 0x50013);
}

TEST_F(IpcClientTest, ConcurrentSendsEachGetTheReplyWithTheirSyncId) {
    // Answers only when both requests are in, the later one first, each with its own sync id.
    std::mutex m;
    std::vector<tagIPC_MESSAGE_ITEM> requests;
    auto asker = Client(0x360000);
    auto manager = Client(0xF0000);
    manager->BindMessageCallback(0x3000B, [&](tagIPC_MESSAGE_ITEM& request) {
        std::lock_guard lock(m);
        requests.push_back(request);
        if (requests.size() < 2) return;
        for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
            std::string text = "for " + std::to_string(it->nSyncMessageId);
            tagIPC_MESSAGE_ITEM reply = MakeIPCReply(*it, 0xF0000, text.data(), static_cast<std::int32_t>(text.size()));
            manager->PostIPCMessage(reply);
        }
    });
    auto ask = [&](std::int32_t sync) { return Ask(*asker, 0xF0000, 0x360000, 0x3000B, sync).value_or("timed out"); };
    auto first = std::async(std::launch::async, ask, 11);
    auto second = std::async(std::launch::async, ask, 22);
    EXPECT_EQ(first.get(), "for 11");
    EXPECT_EQ(second.get(), "for 22");
}

TEST_F(IpcClientTest, SendTimesOutWithFalseOnServiceTime) {
    auto asker = Client(0x360000);
    auto silent = Client(0xF0000);  // connected, never answers
    auto& clock = plat::CClock::Get();
    std::atomic<int> result{-1};
    std::thread t([&] {
        std::string one = "1";
        tagIPC_MESSAGE_ITEM reply;
        result = asker->SendIPCMessage(Item(0xF0000, 0x360000, 0x3000B, one), reply, 20000) ? 1 : 0;
    });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    EXPECT_EQ(clock.NextDeadlineIn(), 20000);
    clock.Advance(Ms(19999));
    EXPECT_EQ(result.load(), -1);
    clock.Advance(Ms(1));
    t.join();
    EXPECT_EQ(result.load(), 0);
}

TEST_F(IpcClientTest, DestroyingTheClientEndsAWaitingSend) {
    auto asker = Client(0x360000);
    std::atomic<int> result{-1};
    std::thread t([&] {
        std::string none;
        tagIPC_MESSAGE_ITEM reply;
        result = asker->SendIPCMessage(Item(0xF0000, 0x360000, 0x3000B, none), reply, plat::CClock::kInfinite) ? 1 : 0;
    });
    ASSERT_TRUE(plat::CClock::Get().WaitForSleepers(1));
    asker.reset();
    t.join();
    EXPECT_EQ(result.load(), 0);
}

TEST_F(IpcClientTest, ALaterRegistrationReplacesAndUnregisteringStopsDelivery) {
    CHandler first, second;
    CRecorder fallback;
    auto a = Client(0x50000);
    auto b = Client(0xF0000);
    b->BindDefaultCallback(fallback.Callback());
    ASSERT_TRUE(b->RegisterMessageCallback(0xF0009, &first, &CHandler::OnRecv));
    ASSERT_TRUE(b->RegisterMessageCallback(0xF0009, &second, &CHandler::OnRecv));
    std::string text = "x";
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0009, text)));
    ASSERT_TRUE(second.seen.WaitFor(1));
    EXPECT_EQ(first.seen.Count(), 0u);

    EXPECT_TRUE(b->UnRegisterMessageCallback(0xF0009));
    EXPECT_FALSE(b->UnRegisterMessageCallback(0xF0009));
    EXPECT_FALSE(b->UnRegisterMessageCallback(0x12345));
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0009, text)));
    ASSERT_TRUE(fallback.WaitFor(1));
    EXPECT_EQ(second.seen.Count(), 1u);
    EXPECT_EQ(fallback.Items()[0].item.nMessageID, 0xF0009);
}

TEST_F(IpcClientTest, UnregisterWaitsForTheRunningCallback) {
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<bool> finished{false};
    auto a = Client(0x50000);
    auto b = Client(0xF0000);
    b->BindMessageCallback(0xF0009, [&](tagIPC_MESSAGE_ITEM&) {
        entered.set_value();
        released.wait();
        finished = true;
    });
    std::string none;
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0009, none)));
    entered.get_future().wait();
    std::atomic<bool> finishedWhenUnregistered{false};
    std::thread unregister([&] {
        b->UnRegisterMessageCallback(0xF0009);
        finishedWhenUnregistered = finished.load();
    });
    release.set_value();
    unregister.join();
    EXPECT_TRUE(finishedWhenUnregistered.load());
}

TEST_F(IpcClientTest, ACallbackThatThrowsIsLoggedAndDeliveryGoesOn) {
    auto a = Client(0x50000);
    for (bool inlineDispatch : {false, true}) {
        CRecorder after;
        auto b = Client(0xF0000, inlineDispatch);
        b->BindMessageCallback(0xF0009, [](tagIPC_MESSAGE_ITEM&) { throw std::runtime_error("handler failed"); });
        b->BindMessageCallback(0xF000A, [](tagIPC_MESSAGE_ITEM&) { throw 42; });
        b->BindMessageCallback(0xF000B, after.Callback());
        std::string none;
        for (int id : {0xF0009, 0xF000A, 0xF000B}) ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, id, none)));
        ASSERT_TRUE(after.WaitFor(1));
        EXPECT_EQ(b->Stats().callbackErrors, 2u);
    }
}

// Streams from two senders while a third keeps asking synchronous questions: every item arrives,
// in order per sender, and every question is answered, while the receiver's two threads take turns.
TEST_F(IpcClientTest, StreamsAndQuestionsTogetherKeepOrderAndLoseNothing) {
    constexpr int kItems = 3000;
    std::mutex m;
    std::condition_variable arrived;
    std::map<std::int32_t, std::vector<int>> seen;  // sender -> indexes in arrival order
    int total = 0;
    CResponder answers;
    auto receiver = Client(0xF0000);
    answers.Serve(*receiver, 0x3000B);
    receiver->BindMessageCallback(0xF0001, [&](tagIPC_MESSAGE_ITEM& item) {
        std::lock_guard lock(m);
        seen[item.nSenderID].push_back(item.nSyncMessageId);
        ++total;
        arrived.notify_all();
    });
    auto stream = [&](std::int32_t self) {
        CIPCMessageClient sender(self, true, false);
        std::string payload(100, 'x');
        for (int i = 0; i < kItems;) {
            tagIPC_MESSAGE_ITEM item = Item(0xF0000, self, 0xF0001, payload);
            item.nSyncMessageId = i;
            if (sender.PostIPCMessage(item)) ++i;  // false: the queue is full for a moment
            else std::this_thread::yield();
        }
    };
    std::thread s1(stream, 0x10000), s2(stream, 0x20000);
    auto asker = Client(0x360000);
    int answered = 0;
    for (int i = 0; i < 50; ++i) {
        tagIPC_MESSAGE_ITEM reply;
        if (Ask(*asker, 0xF0000, 0x360000, 0x3000B, i, &reply) && reply.nSyncMessageId == i) ++answered;
    }
    s1.join();
    s2.join();
    EXPECT_EQ(answered, 50);
    std::unique_lock lock(m);
    ASSERT_TRUE(arrived.wait_for(lock, kRealTimeout, [&] { return total == 2 * kItems; })) << total;
    for (std::int32_t sender : {0x10000, 0x20000}) {
        const auto& got = seen[sender];
        ASSERT_EQ(got.size(), static_cast<std::size_t>(kItems)) << std::hex << sender;
        for (int i = 0; i < kItems; ++i) ASSERT_EQ(got[static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(Hub().Stats().dropped, 0u);
}

// A burst larger than the queue the client keeps while a callback runs comes in while a callback
// blocks, so the client stops reading for a while: once the callback returns, every item arrives,
// in order, with nothing more arriving to wake the client.
TEST_F(IpcClientTest, ABurstWhileACallbackBlocksArrivesWholeOnceItReturns) {
    constexpr int kItems = 1500;
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::mutex m;
    std::vector<int> order;
    auto receiver = Client(0xF0000);
    auto sender = Client(0x50000);
    receiver->BindMessageCallback(0xF0001, [&](tagIPC_MESSAGE_ITEM& item) {
        if (item.nSyncMessageId == 0) {
            entered.set_value();
            released.wait();
        }
        std::lock_guard lock(m);
        order.push_back(item.nSyncMessageId);
    });
    std::string payload(64, 'b');
    auto post = [&](int i) {
        tagIPC_MESSAGE_ITEM item = Item(0xF0000, 0x50000, 0xF0001, payload);
        item.nSyncMessageId = i;
        return sender->PostIPCMessage(item);
    };
    ASSERT_TRUE(post(0));
    entered.get_future().wait();
    int posted = 0;
    for (int i = 1; i <= kItems; ++i) posted += post(i) ? 1 : 0;
    const bool handedOut = kvatest::Eventually([&] { return Hub().Stats().deliveries >= kItems + 1u; });
    release.set_value();
    EXPECT_EQ(posted, kItems);
    EXPECT_TRUE(handedOut);
    ASSERT_TRUE(kvatest::Eventually([&] {
        std::lock_guard lock(m);
        return order.size() == kItems + 1u;
    })) << order.size();
    std::lock_guard lock(m);
    for (int i = 0; i <= kItems; ++i) ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
}

// A callback that blocks does not hold up replies that other threads of the client wait for: the
// client's other thread takes over receiving. That thread runs only while callbacks come: it has
// ended once the client is idle, and the next callback starts it again.
TEST_F(IpcClientTest, ALongCallbackDoesNotStopRepliesToOtherThreadsBeforeOrAfterAnIdleSpell) {
    CResponder answers;
    auto service = Client(0x50000);
    auto ui = Client(0xF0000);
    auto installer = Client(0x30000);
    answers.Serve(*installer, 0x30008);
    const int idle = kvatest::ThreadCount();
    EXPECT_TRUE(AskedWhileACallbackBlocks(*service, *ui));
    EXPECT_TRUE(kvatest::Eventually([&] { return kvatest::ThreadCount() <= idle; }))
        << kvatest::ThreadCount() << " threads, " << idle << " before the callbacks";
    EXPECT_TRUE(AskedWhileACallbackBlocks(*service, *ui));
}

TEST_F(IpcClientTest, ACallbackMayItselfSendAndWaitWhileReceptionGoesOn) {
    CResponder diagnose;
    auto ui = Client(0xF0000);
    auto service = Client(0x50000);
    auto tool = Client(0x200000);
    diagnose.answer = "from the tool";
    diagnose.Serve(*tool, 0x200003);
    // The service's handler asks the tool, waits for its answer, then answers the UI with it.
    service->BindMessageCallback(0xF0012, [&](tagIPC_MESSAGE_ITEM& request) {
        auto text = Ask(*service, 0x200000, 0x50000, 0x200003);
        if (text) service->PostIPCMessage(MakeIPCReply(request, 0x50000, text->data(), static_cast<std::int32_t>(text->size())));
    });
    EXPECT_EQ(Ask(*ui, 0x50000, 0xF0000, 0xF0012), "from the tool");
}

TEST_F(IpcClientTest, ASingleThreadClientAnswersFromItsThreadButCannotWaitThere) {
    CResponder responder;
    std::atomic<int> nested{-1};
    auto asker = Client(0x360000);
    auto fast = Client(0xF0000, true);
    responder.Serve(*fast, 0x3000B);
    fast->BindMessageCallback(0x3000C, [&](tagIPC_MESSAGE_ITEM& item) {
        tagIPC_MESSAGE_ITEM reply;
        nested = fast->SendIPCMessage(item, reply, 20000) ? 1 : 0;  // would never see its reply
    });
    EXPECT_EQ(Ask(*asker, 0xF0000, 0x360000, 0x3000B), "1");
    std::string none;
    ASSERT_TRUE(asker->PostIPCMessage(Item(0xF0000, 0x360000, 0x3000C, none)));
    ASSERT_TRUE(Ask(*asker, 0xF0000, 0x360000, 0x3000B));  // answered after 0x3000C ran
    EXPECT_EQ(nested.load(), 0);
}

TEST_F(IpcClientTest, SendOnlyClientPostsButNeitherSubscribesNorWaits) {
    CRecorder onB;
    auto b = Client(0xF0000);
    b->BindMessageCallback(0xF0002, onB.Callback());
    CIPCMessageClient once(0x580000, false, false);
    std::string none;
    tagIPC_MESSAGE_ITEM item{0x20000, -1, 0xF0002, 0, -1, 0, 0, nullptr, false};
    item.nReceiverID = 0xF0000;
    EXPECT_TRUE(once.PostIPCMessage(item));
    EXPECT_FALSE(once.SubscribeIPCMessage(0x300000, 0));
    tagIPC_MESSAGE_ITEM reply;
    EXPECT_FALSE(once.SendIPCMessage(item, reply, 20000));
    EXPECT_FALSE(once.WaitForHub(Ms(1)));
    ASSERT_TRUE(onB.WaitFor(1));
}

TEST_F(IpcClientTest, PostRefusesPayloadsAboveTheLimit) {
    CRecorder onB;
    auto a = Client(0x50000);
    auto b = Client(0xF0000);
    b->BindDefaultCallback(onB.Callback());

    std::string big(static_cast<std::size_t>(ipcmsg::kMaxPayloadBytes) + 1, 'x');
    EXPECT_FALSE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0001, big)));
    big.pop_back();
    EXPECT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0001, big)));  // exactly at the limit
    tagIPC_MESSAGE_ITEM negative;
    negative.nMessageLen = -1;
    EXPECT_FALSE(a->PostIPCMessage(negative));
    EXPECT_EQ(a->Stats().refused, 2u);
    ASSERT_TRUE(onB.WaitFor(1));
    EXPECT_EQ(onB.Items()[0].payload.size(), static_cast<std::size_t>(ipcmsg::kMaxPayloadBytes));
}

}  // namespace
