// The application half of every check round, and the UI's notice requests.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

// The application check comes with the self-update work; until then a round only logs.
bool CKVAServerQuery::CheckCorvellaVersion() {
    KVA_LOG_WARN("application check round: no self-update policy yet");
    return false;
}

void CKVAServerQuery::OnRecvUpdateXMLMsg(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("notice request from 0x" << std::hex << item.nSenderID << std::dec);
}
