// Requests about the diagnose-analysis tool; acknowledged in the log only for now.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::OnRecvCheckDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("diagnose-tool check request from 0x" << std::hex << item.nSenderID << std::dec);
}

void CKVAServerQuery::OnRecvDownloadDiagnoseAnalysis(tagIPC_MESSAGE_ITEM& item) {
    KVA_LOG_WARN("diagnose-tool download request from 0x" << std::hex << item.nSenderID << std::dec);
}
