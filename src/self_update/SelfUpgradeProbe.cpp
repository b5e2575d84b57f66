// Whether one of the suite's self-upgrade windows is open: the manual-state gate waits for it.
#include "kva/platform/Desktop.h"
#include "service/KVAServerQuery.h"

bool CKVAServerQuery::IsSelfUpgrade() {
    for (const wchar_t* cls : {L"SelfUpgradeWnd", L"MCSelfUpgradeWnd", L"CDriverMsgUI"}) {
        const plat::HWND hwnd = plat::FindTopWindow(cls);
        if (hwnd != 0 && plat::IsWindowAlive(hwnd)) return true;
    }
    return false;
}
