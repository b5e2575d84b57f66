// One IPC message as every process of the suite builds and reads it.
#pragma once

#include <cstdint>

// Endpoint ids are multiples of 0x10000. A message's topic is its id with the low 16 bits cleared
// (message 0x300001 belongs to topic 0x300000); broadcasts reach the subscribers of that topic.
struct tagIPC_MESSAGE_ITEM {
    std::int32_t nReceiverID = -1;     // destination endpoint; -1 in a broadcast
    std::int32_t nSenderID = -1;       // source endpoint; -1 when not stated
    std::int32_t nMessageID = 0;
    std::int32_t nReplyMessageID = 0;  // the id the receiver is to answer with, or a sub-type
    std::int32_t nReserved = -1;
    std::int32_t nSyncMessageId = 0;   // a reply copies the request's value
    std::int32_t nMessageLen = 0;      // payload length in bytes
    char* pszMessage = nullptr;        // payload; not owned by the item
    bool bReserved = false;
};

using IPC_MESSAGE_ITEM = tagIPC_MESSAGE_ITEM;
