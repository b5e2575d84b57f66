// The driver half of every check round.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

// The check and its policy come with the driver-update work; until then a round only logs.
bool CKVAServerQuery::CheckSoftDriverVersion() {
    KVA_LOG_WARN("driver check round: no driver policy yet");
    return false;
}
