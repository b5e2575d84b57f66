// The PD controller firmware of a manual install request ("45"): written here, not by the
// installer. The service's stop event ends the wait for the firmware's answer at unload.
#include "firmware/biosPDUpgrade.h"
#include "service/KVAServerQuery.h"

int CKVAServerQuery::UpgradePDPackage(const std::string& image) {
    UpgradePD upgrade(&StopEvent());
    return upgrade.upgradePDVersion(image);
}
