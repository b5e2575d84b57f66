// The management application's own installer, handed over by its download. While it runs, every
// driver install is refused (m_bAppSetupRunning).
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

void CKVAServerQuery::SilentInstall(std::string path) {
    if (m_bAppSetupRunning.exchange(true)) {
        KVA_LOG_ERROR("SilentInstall is running");
        return;
    }
    PublishPackageTables();  // the view's flags
    try {
        KVA_LOG_WARN("finished download, SilentInstall start");
        if (m_appSetupHook) m_appSetupHook();
        switch (CheckUpdateScene()) {
            case UPDATE_SCENE_RESTRICTED:
                StartSetup(path);
                break;
            case UPDATE_SCENE_NORMAL:
                StartSetupWithTips(path);
                break;
            default:  // a scene that asks the user first
                StartSetupWithWindow();
                break;
        }
        KVA_LOG_WARN("finished setup");
    } catch (const std::exception& e) {
        KVA_LOG_ERROR("error when install driver " << e.what());
    } catch (...) {
        KVA_LOG_ERROR("error when install driver");
    }
    m_bAppSetupRunning = false;
    PublishPackageTables();
}
