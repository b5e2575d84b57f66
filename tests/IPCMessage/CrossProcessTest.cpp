// The hub over ipc:// with clients in other processes (`kva ipc`, `kva suite`), hub restarts, and
// peers that do not speak the protocol.
#include <gtest/gtest.h>


#include <zmq.hpp>

#include "IPCMessage/IPCFrame.h"
#include "IpcTestKit.h"
#include "ipc/IPCReply.h"
#include "kva/platform/Process.h"

namespace {

using kvatest::Ask;
using kvatest::CRecorder;
using kvatest::kRealTimeout;

class IpcProcessTest : public kvatest::CIpcTest {
protected:
    IpcProcessTest() : CIpcTest(kvatest::EHubTransport::Ipc) {}

    void StartKva(plat::CChildProcess& child, std::vector<std::string> args) {
        ASSERT_TRUE(kvatest::StartKva(child, State(), std::move(args)));
    }
    // Reads lines until one contains `text`; returns it.
    static std::string ExpectLine(plat::CChildProcess& child, const std::string& text) {
        return kvatest::ExpectLine(child, text, kRealTimeout);
    }
};

TEST_F(IpcProcessTest, TheSocketLivesInAFolderOnlyTheUserMayEnter) {
    ASSERT_EQ(Endpoint(), "ipc://" + (State() / "ipc" / "hub.sock").string());
    const auto perms = std::filesystem::status(State() / "ipc").permissions() & std::filesystem::perms::all;
    EXPECT_EQ(perms, std::filesystem::perms::owner_all);

    // A second hub at the same address refuses to start while the first one answers.
    ipcmsg::CHub second(Endpoint());
    EXPECT_FALSE(second.Start());
}

TEST_F(IpcProcessTest, RoutesBetweenClientsInDifferentProcesses) {
    plat::CChildProcess listener;
    StartKva(listener, {"ipc", "listen", "--id", "0xF0000", "--count", "1"});
    ExpectLine(listener, "listening as 0xF0000");

    CRecorder onHere;
    auto here = Client(0x50000);
    here->BindMessageCallback(0x50004, onHere.Callback());
    std::string page = "Driver";
    page.push_back('\0');
    tagIPC_MESSAGE_ITEM item = Item(0xF0000, 0x50000, 0xF0001, page);
    item.nReplyMessageID = 0x50003;
    ASSERT_TRUE(here->PostIPCMessage(item));
    EXPECT_NE(ExpectLine(listener, "item 0x50000 -> 0xF0000 msg 0xF0001 second 0x50003 sync 0 len 7 \"Driver\\x00\"").size(), 0u);
    EXPECT_EQ(listener.Wait(kRealTimeout), 0);

    // And the other way: another process posts to this one.
    plat::CChildProcess sender;
    StartKva(sender, {"ipc", "send", "--to", "0x50000", "--from", "0xF0000", "--msg", "0x50004", "--data", "yes"});
    EXPECT_EQ(sender.Wait(kRealTimeout), 0);
    ASSERT_TRUE(onHere.WaitFor(1));
    EXPECT_EQ(onHere.Items()[0].item.nSenderID, 0xF0000);
    EXPECT_EQ(onHere.Items()[0].payload, "yes");
}

TEST_F(IpcProcessTest, SyncSendAcrossProcessesGetsTheReplyWithItsSyncId) {
    plat::CChildProcess installer;
    StartKva(installer, {"ipc", "listen", "--id", "0x30000", "--reply", "done", "--count", "1"});
    ExpectLine(installer, "listening as 0x30000");
    auto here = Client(0x50000);
    tagIPC_MESSAGE_ITEM reply;
    EXPECT_EQ(Ask(*here, 0x30000, 0x50000, 0x30008, 123456, &reply, "{\"driver\":\"x\"}", 1200000), "done");
    EXPECT_EQ(reply.nSyncMessageId, 123456);
    EXPECT_EQ(reply.nSenderID, 0x30000);

    // `kva ipc send --wait-reply` is the same call from another process.
    auto answering = Client(0x200000);
    CIPCMessageClient& answeringRef = *answering;
    answering->BindMessageCallback(0x200003, [&](tagIPC_MESSAGE_ITEM& r) {
        std::string text = "ok";
        answeringRef.PostIPCMessage(MakeIPCReply(r, 0x200000, text.data(), 2));
    });
    plat::CChildProcess asker;
    StartKva(asker, {"ipc", "send", "--to", "0x200000", "--from", "0x50000", "--msg", "0x200003", "--sync", "9",
                     "--wait-reply", "20000"});
    ExpectLine(asker, "reply 0x200000 -> 0x50000 msg 0x200003 second -1 sync 9 len 2 \"ok\"");
    EXPECT_EQ(asker.Wait(kRealTimeout), 0);
}

TEST_F(IpcProcessTest, ClientsCarryOnWhenTheHubRestarts) {
    CRecorder onB, broadcasts;
    std::string text = "before";
    auto a = Client(0x50000);
    auto b = Client(0xF0000);
    b->BindMessageCallback(0xF0001, onB.Callback());
    b->BindSubscribeCallback(broadcasts.Callback());
    ASSERT_TRUE(b->SubscribeIPCMessage(0x300000, 0));
    ASSERT_TRUE(b->WaitForHub(kRealTimeout));
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0001, text)));
    ASSERT_TRUE(onB.WaitFor(1));

    Hub().Stop();
    ipcmsg::CHub next(Endpoint());
    ASSERT_TRUE(next.Start());
    ASSERT_TRUE(next.WaitForEndpoint(0xF0000, 1, kRealTimeout));
    ASSERT_TRUE(next.WaitForEndpoint(0x50000, 1, kRealTimeout));
    ASSERT_TRUE(next.WaitForSubscribers(0x300000, 1, kRealTimeout));

    text = "after";
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0001, text)));
    ASSERT_TRUE(a->PublishIPCMessage(Item(-1, -1, 0x300001, text)));
    ASSERT_TRUE(onB.WaitFor(2));
    ASSERT_TRUE(broadcasts.WaitFor(1));
    EXPECT_EQ(onB.Items()[1].payload, "after");

    // A reply finds its way back through the new hub too.
    CIPCMessageClient& bRef = *b;
    b->BindMessageCallback(0xF000E, [&](tagIPC_MESSAGE_ITEM& r) {
        bRef.PostIPCMessage(MakeIPCReply(r, 0xF0000, text.data(), static_cast<std::int32_t>(text.size())));
    });
    EXPECT_EQ(Ask(*a, 0xF0000, 0x50000, 0xF000E), "after");
}

// Writes raw frames to the hub, as a process that does not speak the protocol would.
TEST_F(IpcProcessTest, TheHubRefusesMalformedAndOversizeFramesAndCarriesOn) {
    CRecorder onB;
    auto b = Client(0xF0000);
    b->BindDefaultCallback(onB.Callback());

    zmq::context_t ctx;
    zmq::socket_t raw(ctx, zmq::socket_type::dealer);
    raw.set(zmq::sockopt::linger, 0);
    raw.connect(Endpoint());
    raw.send(zmq::str_buffer("not a frame at all"), zmq::send_flags::none);
    std::string text = "hi";
    tagIPC_MESSAGE_ITEM item = Item(0xF0000, 0x1230000, 0xF0001, text);
    std::vector<std::uint8_t> frame(ipcmsg::FrameSize(2));
    ipcmsg::EncodeFrame(ipcmsg::EFrameKind::Item, 0, item, frame.data());
    frame[28] = 3;  // claims a byte more than it carries
    raw.send(zmq::buffer(frame), zmq::send_flags::none);
    // A ping behind them on the same connection: when its answer is back, both were handled.
    tagIPC_MESSAGE_ITEM ping;
    std::vector<std::uint8_t> pingFrame(ipcmsg::FrameSize(0));
    ipcmsg::EncodeFrame(ipcmsg::EFrameKind::Ping, 0, ping, pingFrame.data());
    raw.send(zmq::buffer(pingFrame), zmq::send_flags::none);
    zmq::message_t ack;
    raw.set(zmq::sockopt::rcvtimeo, static_cast<int>(kRealTimeout.count()));
    ASSERT_TRUE(raw.recv(ack));
    EXPECT_EQ(Hub().Stats().refused, 2u);
    std::vector<std::uint8_t> huge(ipcmsg::kMaxFrameBytes + 64, 0);
    raw.send(zmq::buffer(huge), zmq::send_flags::none);

    // The hub goes on routing for everyone else; nothing of the above reached B.
    auto a = Client(0x50000);
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF0001, text)));
    ASSERT_TRUE(onB.WaitFor(1));
    EXPECT_EQ(onB.Items()[0].item.nSenderID, 0x50000);
    EXPECT_EQ(onB.Count(), 1u);
    EXPECT_EQ(b->Stats().malformed, 0u);
}

TEST_F(IpcProcessTest, KvaSuiteTracesEveryItemThatPasses) {
    Hub().Stop();  // `kva suite` runs the machine's hub instead
    plat::CChildProcess suite;
    StartKva(suite, {"suite", "--trace", "--no-peers"});
    ExpectLine(suite, "hub listening at " + Endpoint());

    auto a = std::make_unique<CIPCMessageClient>(0x50000, true, false);
    auto b = std::make_unique<CIPCMessageClient>(0xF0000, true, false);
    ASSERT_TRUE(a->WaitForHub(kRealTimeout));
    ASSERT_TRUE(b->WaitForHub(kRealTimeout));
    ExpectLine(suite, "endpoint  0xF0000 connected");
    std::string text = "{\"strDriverID\":\"abc\"}";
    ASSERT_TRUE(a->PostIPCMessage(Item(0xF0000, 0x50000, 0xF000C, text)));
    ExpectLine(suite, "item      0x50000 -> 0xF0000 msg 0xF000C second 0x0 sync 0 len 21 \"{\\\"strDriverID\\\":\\\"abc\\\"}\" (to 1)");
    ASSERT_TRUE(a->PostIPCMessage(Item(0x200000, 0x50000, 0x200003, text)));
    ExpectLine(suite, "dropped   0x50000 -> 0x200000 msg 0x200003");
    a.reset();
    b.reset();
    EXPECT_EQ(suite.Stop(), 0);
    ExpectLine(suite, "stopped by signal 15; 2 items, 1 deliveries, 1 dropped");
}

}  // namespace
