// The installer's completion messages and the UI's install requests; acknowledged only for now.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::OnRecvInstallEnd(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("install end received, " << item.nMessageLen << " bytes");
}

void CKVAServerQuery::OnRecvAppManagerUIInstallMsg(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("install request received, " << item.nMessageLen << " bytes");
}
