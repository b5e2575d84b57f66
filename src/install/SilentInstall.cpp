// The application installer handed over by the silent download.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

// The guard and the log lines are in place; choosing and running the setup flow by the update
// scene comes with the installation work, so for now the installer is only announced.
void CKVAServerQuery::SilentInstall(const std::string& installer) {
    if (m_bAppSetupRunning.exchange(true)) {
        KVA_LOG_ERROR("SilentInstall is running");
        return;
    }
    KVA_LOG_WARN("finished download, SilentInstall start");
    KVA_LOG_WARN("application installer ready, setup flow not built yet: " << installer);
    KVA_LOG_WARN("finished setup");
    m_bAppSetupRunning = false;
}
