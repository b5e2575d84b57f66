// The UI's request to show the restart prompt, and the prompt after installs that need a restart.
// Only acknowledged for now: the restart prompt is not part of this build yet.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::OnRecvPopRestartWnd(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("restart prompt request from 0x" << std::hex << item.nSenderID << std::dec);
}

void CKVAServerQuery::CheckRestartWnd() { KVA_LOG_WARN("restart prompt not available, none shown"); }
