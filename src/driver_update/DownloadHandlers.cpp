// Download requests of the suite's UI. They are acknowledged in the log only until the download
// flows are in place.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::OnRecvDriverDownLoadMsg(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("download request 0x" << std::hex << item.nMessageID << std::dec << " of " << item.nMessageLen
                                       << " bytes received");
}

void CKVAServerQuery::OnRecvCancelDownload(const strDRIVER_DOWNLOAD_CB_PARAM& param) {
    KVA_LOG_WARN("cancel request for driver id " << param.strDriverID << " received");
}
