// The user's update switches: idle-time driver updates ("checkupdate"), silent application
// updates ("selfupdate") and forced updates ("forceupdate"), per user under HKEY_USERS.
#include "Util/DE.h"
#include "Util/KVASoftShelf.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr plat::DWORD kSettingAccess = plat::kKeyAllAccess;

}  // namespace

bool CKVAServerQuery::ReadUpdateSwitch(const wchar_t* name, bool verbose) {
    // A shop demonstration machine and the IT edition update without asking.
    if (IsShopModel()) return true;
    if (CKVASoftShelf::IsITVersion()) return true;
    if (GetLoginGuideProtocol() != "1") return false;

    plat::DWORD value = 0;
    if (!DE::Registry::GetValue(plat::kHKeyUsers, m_strUserSettingKey, name, value, kSettingAccess)) {
        if (verbose) KVA_LOG_ERROR("cann't find register key ");
        auto* shelf = CKVASoftShelf::GetInstance();
        if (shelf->IsSupportPlugin("MsgPop") != 1) return false;
        const plat::DWORD byDefault =
            (shelf->IsSupportProperty("VTLoginGuide", "china") == 1 || shelf->IsBetaVersion()) ? 1 : 0;
        DE::Registry::SetValue(plat::kHKeyUsers, m_strUserSettingKey, name, byDefault, kSettingAccess);
        return byDefault == 1;
    }
    if (value != 1) return false;
    if (m_bEnableUpdate) {
        if (verbose) KVA_LOG_WARN("upgrade enabled ");
        return true;
    }
    KVA_LOG_WARN("upgrade disabled ");
    ReportEvent(evt::kUpdateDisabled);
    return false;
}

bool CKVAServerQuery::IsDriverSwitchOpen() { return ReadUpdateSwitch(L"checkupdate", true); }

bool CKVAServerQuery::IsAgreeSilentUpdate() { return ReadUpdateSwitch(L"selfupdate", false); }

bool CKVAServerQuery::IsUserSetForceUpdate() {
    plat::DWORD value = 0;
    if (!DE::Registry::GetValue(plat::kHKeyUsers, m_strUserSettingKey, L"forceupdate", value, kSettingAccess)) {
        DE::Registry::SetValue(plat::kHKeyUsers, m_strUserSettingKey, L"forceupdate", plat::DWORD{1}, kSettingAccess);
        return true;
    }
    return value == 1;
}
