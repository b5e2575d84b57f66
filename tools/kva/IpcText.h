// How `kva suite --trace` and `kva ipc` show IPC items and read ids from the command line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "IPCMessage/IPCMessageItem.h"

namespace kva {

inline std::string HexId(std::int32_t v) {
    if (v == -1) return "-1";
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%X", static_cast<unsigned>(v));
    return buf;
}

// "0x50000", "327680", "-1".
inline std::int32_t ParseId(const std::string& text) {
    std::size_t used = 0;
    const long long v = std::stoll(text, &used, 0);
    if (used != text.size() || v < INT32_MIN || v > UINT32_MAX) throw std::invalid_argument("not an id: " + text);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v & 0xFFFFFFFF));
}

// The payload as text, up to its first 0 byte.
inline std::string PayloadText(const tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage || item.nMessageLen <= 0) return {};
    return std::string(item.pszMessage, strnlen(item.pszMessage, static_cast<std::size_t>(item.nMessageLen)));
}

// The first `limit` payload bytes, quoted, with non-printable bytes escaped.
inline std::string PayloadPreview(const tagIPC_MESSAGE_ITEM& item, std::size_t limit = 64) {
    if (item.nMessageLen <= 0 || item.pszMessage == nullptr) return "-";
    const auto len = static_cast<std::size_t>(item.nMessageLen);
    std::string out = "\"";
    for (std::size_t i = 0; i < len && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(item.pszMessage[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof(esc), "\\x%02X", c);
            out += esc;
        }
    }
    out += len > limit ? "\"..." : "\"";
    return out;
}

inline std::string DescribeItem(const tagIPC_MESSAGE_ITEM& item) {
    return HexId(item.nSenderID) + " -> " + HexId(item.nReceiverID) + " msg " + HexId(item.nMessageID) + " second " +
           HexId(item.nReplyMessageID) + " sync " + std::to_string(item.nSyncMessageId) + " len " +
           std::to_string(item.nMessageLen) + " " + PayloadPreview(item);
}

}  // namespace kva
