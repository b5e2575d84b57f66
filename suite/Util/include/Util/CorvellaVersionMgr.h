// The installed version of the management application, as the machine's software inventory
// records it: HKEY_LOCAL_MACHINE "SOFTWARE\\Vantor\\Inventory\\0", string value "Version"
// (package "0" is the management application).
#pragma once

#include <string>

class CCorvellaVersionMgr {
public:
    static CCorvellaVersionMgr& getInstance();
    // Empty when the application is not installed.
    std::string GetAppVersion();
};
