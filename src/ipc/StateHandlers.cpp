// Window and system-state coordination with the suite's UI, settings, synergy and message centre.
// These handlers acknowledge their messages only; the coordination they drive is not built yet.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

#define KVA_LOG_RECEIPT(item) \
    KVA_LOG_WARN("received 0x" << std::hex << (item).nMessageID << " from 0x" << (item).nSenderID << std::dec)

void CKVAServerQuery::OnRecvAppMgIPCMessage(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvAppMgCloseWinMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSettingPopWindowMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSettingCloseWinMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSysState(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvAppManagerUIStatusMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSynergyMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }

bool CKVAServerQuery::SendMessageToMsgCenter(unsigned long long id) {
    KVA_LOG_ERROR("message-centre requests are not available yet, id " << id);
    return false;
}
