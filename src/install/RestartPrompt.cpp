// The UI's request to show the restart prompt; acknowledged only for now.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::OnRecvPopRestartWnd(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("restart prompt request from 0x" << std::hex << item.nSenderID << std::dec);
}
