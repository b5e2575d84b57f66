// The items the library builds for its IPC traffic.
#pragma once

#include <cstdint>
#include <string>

#include "IPCMessage/IPCMessageItem.h"
#include "ipc/IpcIds.h"

// The answer to `request`: back to its sender, under its message id, carrying its sync id
// unchanged, with second id -1. The payload is not copied (the client copies it when posting).
inline tagIPC_MESSAGE_ITEM MakeIPCReply(const tagIPC_MESSAGE_ITEM& request, std::int32_t nSenderId, char* pData,
                                        std::int32_t nLength) {
    tagIPC_MESSAGE_ITEM reply;
    reply.nReceiverID = request.nSenderID;
    reply.nSenderID = nSenderId;
    reply.nMessageID = request.nMessageID;
    reply.nReplyMessageID = -1;
    reply.nReserved = -1;
    reply.nSyncMessageId = request.nSyncMessageId;
    reply.nMessageLen = nLength;
    reply.pszMessage = pData;
    reply.bReserved = false;
    return reply;
}

// An item originated by the library with no sender stated (the generic send to an endpoint).
inline tagIPC_MESSAGE_ITEM MakeIPCPost(std::int32_t nReceiverId, std::int32_t nMessageId, std::int32_t nSecondId,
                                       char* pData, std::int32_t nLength) {
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = nReceiverId;
    item.nSenderID = -1;
    item.nMessageID = nMessageId;
    item.nReplyMessageID = nSecondId;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = nLength;
    item.pszMessage = pData;
    item.bReserved = false;
    return item;
}

// A request of the library to a peer, second id 0. The payload is not copied.
inline tagIPC_MESSAGE_ITEM MakeIPCRequest(std::int32_t nReceiverId, std::int32_t nSenderId, std::int32_t nMessageId,
                                          std::int32_t nSyncId, char* pData, std::int32_t nLength) {
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = nReceiverId;
    item.nSenderID = nSenderId;
    item.nMessageID = nMessageId;
    item.nReplyMessageID = 0;
    item.nReserved = -1;
    item.nSyncMessageId = nSyncId;
    item.nMessageLen = nLength;
    item.pszMessage = pData;
    item.bReserved = false;
    return item;
}

// The application's setup request to the installer (0x30006): the command line with its zero.
inline tagIPC_MESSAGE_ITEM MakeSetupApplicationItem(std::int32_t nSenderId, std::string& command) {
    return MakeIPCRequest(ipc_endpoint::kInstaller, nSenderId, ipc_msg::kSetupApplication, 0, command.data(),
                          static_cast<std::int32_t>(command.size() + 1));
}

// A driver's setup request to the installer: its JSON text with the zero, under sync id `nSyncId`.
inline tagIPC_MESSAGE_ITEM MakeSetupDriverItem(std::int32_t nSenderId, std::int32_t nSyncId, std::string& text) {
    return MakeIPCRequest(ipc_endpoint::kInstaller, nSenderId, ipc_msg::kSetupDriver, nSyncId, text.data(),
                          static_cast<std::int32_t>(text.size() + 1));
}
