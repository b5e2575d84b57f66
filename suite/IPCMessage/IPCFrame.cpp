#include "IPCMessage/IPCFrame.h"

#include <cstring>

namespace ipcmsg {

namespace {

void PutInt32(std::uint8_t* p, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<std::uint8_t>(u);
    p[1] = static_cast<std::uint8_t>(u >> 8);
    p[2] = static_cast<std::uint8_t>(u >> 16);
    p[3] = static_cast<std::uint8_t>(u >> 24);
}

std::int32_t GetInt32(const std::uint8_t* p) {
    const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(u);
}

bool KnownKind(std::uint8_t k) {
    return k >= static_cast<std::uint8_t>(EFrameKind::Item) && k <= static_cast<std::uint8_t>(EFrameKind::Ping);
}

}  // namespace

std::string_view FrameErrorText(EFrameError error) {
    switch (error) {
        case EFrameError::None: return "ok";
        case EFrameError::TooShort: return "frame too short";
        case EFrameError::TooLong: return "frame above the size limit";
        case EFrameError::BadMagic: return "not a frame of this protocol";
        case EFrameError::BadKind: return "unknown frame kind";
        case EFrameError::BadLength: return "payload length does not match the frame";
        case EFrameError::BadReserved: return "reserved bytes not zero";
        case EFrameError::NoTerminator: return "payload not terminated";
    }
    return "unknown error";
}

EFrameError CheckItem(const tagIPC_MESSAGE_ITEM& item) {
    if (item.nMessageLen < 0 || item.nMessageLen > kMaxPayloadBytes) return EFrameError::BadLength;
    if (item.nMessageLen > 0 && item.pszMessage == nullptr) return EFrameError::BadLength;
    return EFrameError::None;
}

void EncodeFrame(EFrameKind kind, std::uint8_t flags, const tagIPC_MESSAGE_ITEM& item, std::uint8_t* out) {
    out[0] = kFrameMagic;
    out[1] = kFrameVersion;
    out[2] = static_cast<std::uint8_t>(kind);
    out[3] = flags;
    PutInt32(out + 4, item.nReceiverID);
    PutInt32(out + 8, item.nSenderID);
    PutInt32(out + 12, item.nMessageID);
    PutInt32(out + 16, item.nReplyMessageID);
    PutInt32(out + 20, item.nReserved);
    PutInt32(out + 24, item.nSyncMessageId);
    PutInt32(out + 28, item.nMessageLen);
    out[32] = item.bReserved ? 1 : 0;
    out[33] = out[34] = out[35] = 0;
    if (item.nMessageLen > 0) std::memcpy(out + kFrameHeaderBytes, item.pszMessage, static_cast<std::size_t>(item.nMessageLen));
    out[kFrameHeaderBytes + static_cast<std::size_t>(item.nMessageLen)] = 0;
}

EFrameError DecodeFrame(const std::uint8_t* data, std::size_t size, CFrame* out) {
    if (size < kFrameHeaderBytes + 1) return EFrameError::TooShort;
    if (size > kMaxFrameBytes) return EFrameError::TooLong;
    if (data[0] != kFrameMagic || data[1] != kFrameVersion) return EFrameError::BadMagic;
    if (!KnownKind(data[2])) return EFrameError::BadKind;
    const std::int32_t len = GetInt32(data + 28);
    if (len < 0 || len > kMaxPayloadBytes || FrameSize(len) != size) return EFrameError::BadLength;
    if (data[32] > 1 || data[33] != 0 || data[34] != 0 || data[35] != 0) return EFrameError::BadReserved;
    if (data[size - 1] != 0) return EFrameError::NoTerminator;
    out->kind = static_cast<EFrameKind>(data[2]);
    out->flags = data[3];
    tagIPC_MESSAGE_ITEM& item = out->item;
    item.nReceiverID = GetInt32(data + 4);
    item.nSenderID = GetInt32(data + 8);
    item.nMessageID = GetInt32(data + 12);
    item.nReplyMessageID = GetInt32(data + 16);
    item.nReserved = GetInt32(data + 20);
    item.nSyncMessageId = GetInt32(data + 24);
    item.nMessageLen = len;
    // The receiver owns the bytes; handlers take the item by non-const reference.
    item.pszMessage = len == 0 ? nullptr : reinterpret_cast<char*>(const_cast<std::uint8_t*>(data + kFrameHeaderBytes));
    item.bReserved = data[32] != 0;
    return EFrameError::None;
}

}  // namespace ipcmsg
