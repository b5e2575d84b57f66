// The frame codec and the hub's routing table: pure code, no sockets.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "IPCMessage/HubRouter.h"
#include "IPCMessage/IPCFrame.h"

namespace {

using namespace ipcmsg;

std::vector<std::uint8_t> Encode(const tagIPC_MESSAGE_ITEM& item, EFrameKind kind = EFrameKind::Item, std::uint8_t flags = 0) {
    std::vector<std::uint8_t> out(FrameSize(item.nMessageLen));
    EncodeFrame(kind, flags, item, out.data());
    return out;
}

TEST(IpcFrame, FieldsTravelLittleEndianInItemOrderAndDecodeBack) {
    char payload[] = "{\"a\":1}";
    tagIPC_MESSAGE_ITEM item{0xF0000, 0x50000, 0xF0001, 0x50003, -1, 0x12345678, 7, payload, true};
    const auto bytes = Encode(item, EFrameKind::Item, kFlagSyncRequest);
    ASSERT_EQ(bytes.size(), kFrameHeaderBytes + 7 + 1);
    EXPECT_EQ(bytes[0], 'K');
    EXPECT_EQ(bytes[3], kFlagSyncRequest);
    const std::uint8_t receiver[4] = {0x00, 0x00, 0x0F, 0x00};
    EXPECT_EQ(std::memcmp(bytes.data() + 4, receiver, 4), 0);
    const std::uint8_t sync[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(std::memcmp(bytes.data() + 24, sync, 4), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + kFrameHeaderBytes, payload, 7), 0);
    EXPECT_EQ(bytes.back(), 0);

    CFrame frame;
    ASSERT_EQ(DecodeFrame(bytes.data(), bytes.size(), &frame), EFrameError::None);
    EXPECT_EQ(frame.kind, EFrameKind::Item);
    EXPECT_EQ(frame.flags, kFlagSyncRequest);
    const auto& d = frame.item;
    EXPECT_EQ(std::vector<std::int32_t>({d.nReceiverID, d.nSenderID, d.nMessageID, d.nReplyMessageID, d.nReserved,
                                         d.nSyncMessageId, d.nMessageLen}),
              std::vector<std::int32_t>({0xF0000, 0x50000, 0xF0001, 0x50003, -1, 0x12345678, 7}));
    EXPECT_TRUE(d.bReserved);
    EXPECT_EQ(std::string(d.pszMessage, 7), payload);

    tagIPC_MESSAGE_ITEM empty;
    const auto none = Encode(empty);
    ASSERT_EQ(DecodeFrame(none.data(), none.size(), &frame), EFrameError::None);
    EXPECT_EQ(frame.item.pszMessage, nullptr);
}

TEST(IpcFrame, DecoderRefusesEveryMalformedFrame) {
    char payload[] = "abc";
    tagIPC_MESSAGE_ITEM item{1, 2, 3, 4, -1, 0, 3, payload, false};
    const auto good = Encode(item);
    CFrame frame;
    auto with = [&](std::size_t at, std::uint8_t value) {
        auto b = good;
        b[at] = value;
        return DecodeFrame(b.data(), b.size(), &frame);
    };
    EXPECT_EQ(DecodeFrame(good.data(), kFrameHeaderBytes, &frame), EFrameError::TooShort);
    EXPECT_EQ(DecodeFrame(good.data(), good.size() - 1, &frame), EFrameError::BadLength);
    EXPECT_EQ(with(0, 'X'), EFrameError::BadMagic);
    EXPECT_EQ(with(1, 2), EFrameError::BadMagic);
    EXPECT_EQ(with(2, 0), EFrameError::BadKind);
    EXPECT_EQ(with(2, 7), EFrameError::BadKind);
    EXPECT_EQ(with(28, 4), EFrameError::BadLength);     // claims one byte more than present
    EXPECT_EQ(with(31, 0x80), EFrameError::BadLength);  // negative length
    EXPECT_EQ(with(32, 2), EFrameError::BadReserved);
    EXPECT_EQ(with(34, 1), EFrameError::BadReserved);
    EXPECT_EQ(with(good.size() - 1, 'x'), EFrameError::NoTerminator);

    // A frame above the limit is refused before anything else is looked at.
    std::vector<std::uint8_t> huge(kMaxFrameBytes + 1, 0);
    EXPECT_EQ(DecodeFrame(huge.data(), huge.size(), &frame), EFrameError::TooLong);
    item.nMessageLen = kMaxPayloadBytes + 1;
    EXPECT_EQ(CheckItem(item), EFrameError::BadLength);
    item.nMessageLen = 5;
    item.pszMessage = nullptr;
    EXPECT_EQ(CheckItem(item), EFrameError::BadLength);
}

tagIPC_MESSAGE_ITEM Header(std::int32_t to, std::int32_t from, std::int32_t msg, std::int32_t sync) {
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = to;
    item.nSenderID = from;
    item.nMessageID = msg;
    item.nSyncMessageId = sync;
    return item;
}

std::vector<std::string> TargetsOf(CHubRouter& router, std::int32_t to, std::int32_t msg, std::int32_t sync = 0) {
    std::vector<const CHubRouter::Peer*> out;
    router.Targets(Header(to, -1, msg, sync), out);
    std::vector<std::string> names;
    for (const auto* p : out) names.push_back(*p);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(HubRouter, RoutesByReceiverToEveryConnectionOfTheId) {
    CHubRouter r;
    using C = CHubRouter::EChange;
    EXPECT_EQ(r.Hello("a", 0x50000), C::Added);
    EXPECT_EQ(r.Hello("a", 0x50000), C::None);
    EXPECT_EQ(r.Hello("b", 0x50000), C::Added);  // two clients may share an id
    EXPECT_EQ(r.Hello("c", 0xF0000), C::Added);
    EXPECT_EQ(r.Hello("d", -1), C::Refused);
    EXPECT_EQ(TargetsOf(r, 0x50000, 0x50016), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(TargetsOf(r, 0xF0000, 0xF0001), (std::vector<std::string>{"c"}));
    EXPECT_TRUE(TargetsOf(r, 0x30000, 0x30006).empty());

    // A connection that announces another id moves; one that leaves is gone from every table.
    EXPECT_EQ(r.Hello("b", 0x30000), C::Added);
    EXPECT_EQ(TargetsOf(r, 0x50000, 1), (std::vector<std::string>{"a"}));
    EXPECT_EQ(TargetsOf(r, 0x30000, 1), (std::vector<std::string>{"b"}));
    EXPECT_TRUE(r.Remove("b"));
    EXPECT_FALSE(r.Remove("b"));
    EXPECT_TRUE(TargetsOf(r, 0x30000, 1).empty());
    EXPECT_EQ(r.EndpointCount(0x30000), 0u);
}

TEST(HubRouter, BroadcastsReachSubscribersOfTheTopicThroughTheirFilters) {
    CHubRouter r;
    using C = CHubRouter::EChange;
    EXPECT_EQ(r.Subscribe("all", 0x300000, 0), C::Added);
    EXPECT_EQ(r.Subscribe("all", 0x300000, 0), C::None);
    EXPECT_EQ(r.Subscribe("two", 0x300000, 0x300002), C::Added);
    EXPECT_EQ(r.Subscribe("two", 0x300000, 0x300003), C::Added);
    EXPECT_EQ(r.Subscribe("other", 0xF0000, 0), C::Added);
    EXPECT_EQ(r.Subscribe("bad", 0x300001, 0), C::Refused);
    r.Hello("other", 0x300000);  // an endpoint whose id equals the topic gets no broadcasts by that

    EXPECT_EQ(TargetsOf(r, -1, 0x300001), (std::vector<std::string>{"all"}));
    EXPECT_EQ(TargetsOf(r, -1, 0x300002), (std::vector<std::string>{"all", "two"}));
    EXPECT_EQ(TargetsOf(r, -1, 0xF0014), (std::vector<std::string>{"other"}));
    EXPECT_EQ(r.SubscriberCount(0x300000), 2u);

    EXPECT_TRUE(r.Remove("two"));
    EXPECT_EQ(TargetsOf(r, -1, 0x300002), (std::vector<std::string>{"all"}));
    EXPECT_EQ(r.SubscriberCount(0x300000), 1u);
}

TEST(HubRouter, AnAnswerGoesOnlyToTheConnectionThatWaitsForIt) {
    CHubRouter r;
    r.Hello("service", 0x50000);
    r.Hello("notices", 0x50000);  // the driver-notice controller shares the service's id
    r.Hello("appmgr", 0xF0000);
    r.Hello("installer", 0x30000);

    // The service asks the installer on behalf of the application manager.
    const tagIPC_MESSAGE_ITEM setup = Header(0x30000, 0xF0000, 0x30008, 777);
    r.NoteSyncRequest("service", setup);
    EXPECT_EQ(TargetsOf(r, 0xF0000, 0x30008, 778), (std::vector<std::string>{"appmgr"})) << "another sync id";
    EXPECT_EQ(TargetsOf(r, 0xF0000, 0x30009, 777), (std::vector<std::string>{"appmgr"})) << "another message";
    EXPECT_EQ(TargetsOf(r, 0xF0000, 0x30008, 777), (std::vector<std::string>{"service"}));
    EXPECT_EQ(TargetsOf(r, 0xF0000, 0x30008, 777), (std::vector<std::string>{"appmgr"})) << "one answer per request";

    // Of two connections of one id, only the asking one gets the answer; others still get both.
    tagIPC_MESSAGE_ITEM bios = Header(0x30000, 0x50000, 0x50016, 5);
    r.NoteSyncRequest("notices", bios);
    EXPECT_EQ(TargetsOf(r, 0x50000, 0x50016, 5), (std::vector<std::string>{"notices"}));
    EXPECT_EQ(TargetsOf(r, 0x50000, 0x50016, 5), (std::vector<std::string>{"notices", "service"}));

    // A client sends on one connection and receives on another, named alike.
    r.Hello("r0123", 0x360000);
    bios.nSenderID = 0x360000;
    r.NoteSyncRequest("s0123", bios);
    r.NoteSyncRequest("s9999", setup);  // no receiving connection of that name: nothing to note
    EXPECT_EQ(TargetsOf(r, 0x360000, 0x50016, 5), (std::vector<std::string>{"r0123"}));

    // A waiter that left takes its notes along: the answer goes where it is addressed.
    r.NoteSyncRequest("service", setup);
    EXPECT_EQ(r.PendingSyncCount(), 1u);
    r.Remove("service");
    EXPECT_EQ(r.PendingSyncCount(), 0u);
    EXPECT_EQ(TargetsOf(r, 0xF0000, 0x30008, 777), (std::vector<std::string>{"appmgr"}));
}

TEST(HubRouter, TablesAreBounded) {
    CHubRouter r;
    for (std::uint32_t i = 0; i < CHubRouter::kMaxSubscriptionsPerPeer; ++i) {
        ASSERT_EQ(r.Subscribe("p", 0x10000, i), CHubRouter::EChange::Added);
    }
    EXPECT_EQ(r.Subscribe("p", 0x10000, 9999), CHubRouter::EChange::Refused);
    for (std::size_t i = 1; i < CHubRouter::kMaxPeers; ++i) r.Hello("peer" + std::to_string(i), 0x10000);
    EXPECT_TRUE(r.Full());
    EXPECT_EQ(r.Hello("one-too-many", 0x20000), CHubRouter::EChange::Refused);
    EXPECT_EQ(r.Hello("peer1", 0x20000), CHubRouter::EChange::Added);  // known peers still move

    // Requests that are never answered do not pile up: the oldest notes go first.
    tagIPC_MESSAGE_ITEM q = Header(0x30000, 0x20000, 0x30008, 0);
    for (std::size_t i = 0; i < 3 * CHubRouter::kMaxPendingSync; ++i) {
        q.nSyncMessageId = static_cast<std::int32_t>(i);
        r.NoteSyncRequest("peer1", q);
    }
    EXPECT_EQ(r.PendingSyncCount(), CHubRouter::kMaxPendingSync);
    EXPECT_EQ(TargetsOf(r, 0x20000, 0x30008, 0), (std::vector<std::string>{"peer1"})) << "by address, not as an answer";
    EXPECT_EQ(r.PendingSyncCount(), CHubRouter::kMaxPendingSync);
}

}  // namespace
