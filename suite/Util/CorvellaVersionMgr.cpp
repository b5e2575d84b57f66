#include "Util/CorvellaVersionMgr.h"

#include "Util/DE.h"

CCorvellaVersionMgr& CCorvellaVersionMgr::getInstance() {
    static CCorvellaVersionMgr instance;
    return instance;
}

std::string CCorvellaVersionMgr::GetAppVersion() {
    std::wstring version;
    if (!DE::Registry::GetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Inventory\\0", L"Version", version,
                                plat::kKeyRead)) {
        return {};
    }
    return DE::UnicodeToUTF8(version);
}
