// "DriverCurVersion.dll": the firmware and driver versions the machine reports, read from the
// machine's software inventory (HKEY_LOCAL_MACHINE "SOFTWARE\\Vantor\\Inventory\\<package id>",
// string value "Version").
#include <string>

#include "Util/DE.h"

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

// `detail` receives where the version came from; `result` is 1 when a version was found.
extern "C" __attribute__((visibility("default"))) std::string GetFWVersion(const std::string& driverId,
                                                                            const std::string& driverName,
                                                                            std::string& detail, int& result) {
    (void)driverName;
    result = 0;
    if (driverId.empty() || driverId.find_first_not_of("0123456789") != std::string::npos) return {};
    const std::wstring key = L"SOFTWARE\\Vantor\\Inventory\\" + DE::UTF8ToUnicode(driverId);
    std::wstring version;
    if (!DE::Registry::GetValue(plat::kHKeyLocalMachine, key, L"Version", version, plat::kKeyRead)) return {};
    detail = "HKEY_LOCAL_MACHINE\\" + DE::UnicodeToUTF8(key);
    result = 1;
    return DE::UnicodeToUTF8(version);
}
