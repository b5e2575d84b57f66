// Smallest bodies of the notice calls the install work makes, until the notice windows and
// controllers are built: each only logs what it would show.
#include "kva/platform/Log.h"
#include "self_update/KVASelfUpdateXML.h"
#include "self_update/KVASilentTipWnd.h"
#include "self_update/UpdateTipsUI.h"

void UpdateTipsUI::ShowInstalling(const std::string& code) { KVA_LOG_WARN("installing notice not shown yet: " << code); }

void UpdateTipsUI::ShowInstalled(const std::string& code) { KVA_LOG_WARN("installed notice not shown yet: " << code); }

void KVASilentTipWnd::ShowStartInstall() { KVA_LOG_WARN("application install notice not shown yet"); }

KVASelfUpdateXML* KVASelfUpdateXML::GetInstance() {
    static KVASelfUpdateXML instance;
    return &instance;
}

void KVASelfUpdateXML::SetDriverVersionInfo(const _TOBEUPDATE_DRIVER_INFO& info) {
    KVA_LOG_WARN("application notice not shown yet: " << info.versionInfo.strNextVersion);
}
