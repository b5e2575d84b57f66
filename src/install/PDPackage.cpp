// The PD controller firmware of a manual install request ("45"). The firmware writer is not part
// of this build yet, so the request is refused rather than reported as written.
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

int CKVAServerQuery::UpgradePDPackage(const std::string& image) {
    KVA_LOG_ERROR("PD firmware upgrade not available, image not written: " << image);
    return 1;
}
