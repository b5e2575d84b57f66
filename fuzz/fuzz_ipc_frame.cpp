// The hub's frame decoder and routing table. The input is a run of chunks, each a connection
// number, a 16-bit length and that many bytes, handled as the hub handles frames from its
// connections: a frame that decodes must encode back to the same bytes, and every routing decision
// must agree with the table (addressed items only to connections of that endpoint, broadcasts only
// to subscribers of the topic).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "IPCMessage/HubRouter.h"
#include "IPCMessage/IPCFrame.h"

namespace {

using namespace ipcmsg;

void CheckRoundTrip(const std::uint8_t* data, std::size_t size, const CFrame& frame) {
    std::vector<std::uint8_t> again(FrameSize(frame.item.nMessageLen));
    EncodeFrame(frame.kind, frame.flags, frame.item, again.data());
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0) __builtin_trap();
    if (TopicOf(frame.item.nMessageID) & 0xFFFFu) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CFrame frame;
    if (DecodeFrame(data, size, &frame) == EFrameError::None) CheckRoundTrip(data, size, frame);

    CHubRouter router;
    std::vector<const CHubRouter::Peer*> targets;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const CHubRouter::Peer peer(1, static_cast<char>('a' + data[at] % 8));
        std::size_t len = static_cast<std::size_t>(data[at + 1]) | (static_cast<std::size_t>(data[at + 2]) << 8);
        at += 3;
        len = std::min(len, size - at);
        // Each chunk in a buffer of its own size, so reading one byte too far is caught.
        std::vector<std::uint8_t> chunk(data + at, data + at + len);
        at += len;
        if (DecodeFrame(chunk.data(), chunk.size(), &frame) != EFrameError::None) continue;
        CheckRoundTrip(chunk.data(), chunk.size(), frame);
        const auto& item = frame.item;
        switch (frame.kind) {
            case EFrameKind::Hello:
                if (router.Hello(peer, item.nSenderID) != CHubRouter::EChange::Refused &&
                    router.EndpointOf(peer) != item.nSenderID) {
                    __builtin_trap();
                }
                break;
            case EFrameKind::Subscribe:
                router.Subscribe(peer, static_cast<std::uint32_t>(item.nMessageID), static_cast<std::uint32_t>(item.nReplyMessageID));
                break;
            case EFrameKind::Bye:
                router.Remove(peer);
                if (router.Knows(peer)) __builtin_trap();
                break;
            case EFrameKind::Item: {
                targets.clear();
                router.Targets(item, targets);
                for (const auto* t : targets) {
                    if (item.nReceiverID != -1 && router.EndpointOf(*t) != item.nReceiverID) __builtin_trap();
                    if (item.nReceiverID == -1 && router.SubscriberCount(TopicOf(item.nMessageID)) == 0) __builtin_trap();
                }
                if (item.nReceiverID != -1 && targets.size() != router.EndpointCount(item.nReceiverID)) __builtin_trap();
                break;
            }
            default:
                break;
        }
    }
    return 0;
}
