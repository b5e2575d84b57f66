// The wire frame between a client and the hub. Pure functions over bytes: no sockets, no state,
// safe from any thread; the hub, the client, the tests and the fuzz target all use these.
//
// Layout (all integers little-endian, 36-byte header):
//   0  'K'                 magic
//   1  1                   version
//   2  kind                EFrameKind
//   3  flags               bit 0: the item is a request that waits for its reply (SendIPCMessage)
//   4  nReceiverID ... nMessageLen   the item's seven 32-bit fields, in item order
//   32 bReserved           0 or 1
//   33 0 0 0               padding
//   36 payload             nMessageLen bytes
//   36+nMessageLen  0      a terminator not counted in nMessageLen, so a receiver may read a text
//                          payload as a C string even when the sender did not end it with 0
//
// Control frames reuse the header: Hello carries the endpoint id in nSenderID and a short label as
// payload; Subscribe carries the topic in nMessageID and the filter in nReplyMessageID; every
// control frame carries a sequence number in nSyncMessageId that the hub echoes in its Ack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "IPCMessage/IPCMessageItem.h"

namespace ipcmsg {

enum class EFrameKind : std::uint8_t {
    Item = 1,       // client -> hub -> client: a message
    Hello = 2,      // client -> hub: "connection is endpoint nSenderID"
    Subscribe = 3,  // client -> hub: deliver broadcasts of topic nMessageID here
    Bye = 4,        // client -> hub: the client is going away
    Ack = 5,        // hub -> client: control frame nSyncMessageId was applied
    Ping = 6,       // anyone -> hub: answered with an Ack (is a hub alive here?)
};

inline constexpr std::uint8_t kFrameMagic = 'K';
inline constexpr std::uint8_t kFrameVersion = 1;
inline constexpr std::uint8_t kFlagSyncRequest = 0x01;
inline constexpr std::size_t kFrameHeaderBytes = 36;
// Payloads above this are refused by the client before sending and by the hub on receipt.
inline constexpr std::int32_t kMaxPayloadBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxFrameBytes = kFrameHeaderBytes + kMaxPayloadBytes + 1;
// A receiving client's two connections are named alike so that the hub can tell, from the
// connection a waiting request came on, the connection its answer must go to: the sending one
// is kSendingMark + token, the receiving one kReceivingMark + the same token.
inline constexpr char kSendingMark = 's';
inline constexpr char kReceivingMark = 'r';
// Hello labels (a process name for tracing) are cut to this length.
inline constexpr std::size_t kMaxLabelBytes = 64;

enum class EFrameError {
    None,
    TooShort,        // fewer bytes than a header and its terminator
    TooLong,         // above kMaxFrameBytes
    BadMagic,        // not 'K' / version 1
    BadKind,
    BadLength,       // nMessageLen negative, above the limit, or not the bytes present
    BadReserved,     // bReserved not 0 or 1, or padding not zero
    NoTerminator,    // the byte after the payload is not 0
};

std::string_view FrameErrorText(EFrameError error);

struct CFrame {
    EFrameKind kind = EFrameKind::Item;
    std::uint8_t flags = 0;
    // pszMessage points into the decoded bytes, so the frame is valid only as long as they are;
    // it is null when the payload is empty (as senders pass no data).
    tagIPC_MESSAGE_ITEM item;
};

// The topic of a message: its id with the low 16 bits cleared.
constexpr std::uint32_t TopicOf(std::int32_t messageId) {
    return static_cast<std::uint32_t>(messageId) & 0xFFFF0000u;
}

// Bytes needed for a frame with `payloadLen` payload bytes.
constexpr std::size_t FrameSize(std::int32_t payloadLen) {
    return kFrameHeaderBytes + static_cast<std::size_t>(payloadLen) + 1;
}

// Writes the frame of `item` (its payload: item.nMessageLen bytes at item.pszMessage) into `out`,
// which holds FrameSize(item.nMessageLen) bytes. REQUIRES: 0 <= nMessageLen <= kMaxPayloadBytes
// and pszMessage not null when nMessageLen > 0 (CheckItem).
void EncodeFrame(EFrameKind kind, std::uint8_t flags, const tagIPC_MESSAGE_ITEM& item, std::uint8_t* out);

// Whether `item` can be encoded; EFrameError::None when it can.
EFrameError CheckItem(const tagIPC_MESSAGE_ITEM& item);

// Decodes and checks a whole frame. On success fills `out`; on failure leaves it unspecified.
EFrameError DecodeFrame(const std::uint8_t* data, std::size_t size, CFrame* out);

}  // namespace ipcmsg
