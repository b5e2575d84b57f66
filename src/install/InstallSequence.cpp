// The install thread: one pass every 120 s for the life of the service.
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

// The passes install nothing yet (the install flow comes with the installation work); the loop
// already has its final shape: it wakes every 120 s and ends at once when the service stops.
void CKVAServerQuery::InstallDriverInOrder() {
    KVA_LOG_WARN("InstallDriverInOrder start");
    while (!m_bStop) {
        if (!plat::Sleep(120000, &m_evStop)) break;
    }
}
