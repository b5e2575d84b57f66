#include "common/Driver/DriverUpdateCommon.h"

#include <array>
#include <atomic>
#include <cstdlib>

#include "DuiLib/UICulture.h"
#include "Util/DE.h"
#include "Util/DriverInfoListMgr.h"
#include "Util/FileInfo.h"
#include "Util/ProductAdapt.h"
#include "kva/platform/DebugOutput.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"

namespace {

// The name of type code n is the text "IDS_DRVUP_<kDriverNameStems[n]>_NAME"; 0 is never looked up.
constexpr std::array<const wchar_t*, 41> kDriverNameStems = {
    L"", L"CHIPSET", L"MEI", L"GRAPHICS", L"SERIALIO", L"ISH", L"DPTF", L"IRST", L"VIRUALBUTTON", L"TCM",
    L"SGX", L"HOTKEY", L"WDT", L"GSENSOR", L"AUDIO", L"WIFI", L"BT", L"CAMERA", L"FINGERPRINT", L"LCD",
    L"TOUCHPANEL", L"KEYBOARD", L"DOCKING", L"BIOS", L"CAMERAFIRMWARE", L"NVIDIAGRAPHICS", L"HOTKEY", L"SSD",
    L"THUNDERBOLT", L"AMDI2C", L"AMDGPIO", L"AMDPSP", L"AMDSMBUS", L"AMDGRAPHICS", L"AMSPI", L"AMDHDMI",
    L"AMDHDABUS", L"AMDACPBUS", L"HDDFWID", L"ONEKEY", L"GPIO",
};

constexpr std::array<const wchar_t*, 4> kShortBusyClasses = {
    L"RECEIVE NOTIFY", L"FileTransferDialog", L"RECEIVE FILE DIALOG", L"FlowTray_FloatWindow"};
constexpr std::array<const wchar_t*, 5> kLongBusyClasses = {
    L"SelfUpgradeWnd", L"MCSelfUpgradeWnd", L"CDriverMsgUI", L"Pilotdeck", L"StartupDui"};

// The culture answers an unknown id with the id itself; here that means "no text".
std::wstring LocalisedOrEmpty(const std::wstring& id) {
    std::wstring text = DuiLib::UICulture::GetInstance()->GetString(id);
    return text == id ? std::wstring() : text;
}

// atoi without its undefined overflow: leading blanks and a sign, digits up to the first other
// character, 0 when there are none; out-of-range values clamp.
long CodeNumber(const std::string& code) { return std::strtol(code.c_str(), nullptr, 10); }

std::wstring UserKey(const wchar_t* below) { return VTPROCESS::GetCurrentUserSidstr() + below; }

std::atomic<bool> g_askedBy0{false};
std::atomic<bool> g_askedBy1{false};
std::atomic<bool> g_firstBootAnswer{true};

void MarkAsked(enumWhichCall which) {
    if (which == WHICH_CALL_SELF_UPDATE_NOTICE) g_askedBy0 = true;
    if (which == WHICH_CALL_DRIVER_NOTICE) g_askedBy1 = true;
}

bool ProbeFirstBootKey() {
    plat::HKEY suiteKey = 0;
    if (plat::RegOpenKey(plat::kHKeyUsers, UserKey(kSuiteUserKey), plat::kKeyAllAccess, &suiteKey) !=
        plat::kErrorSuccess) {
        return true;
    }
    plat::HKEY probe = 0;
    if (plat::RegOpenKey(suiteKey, kFirstCheckAfterBootKey, plat::kKeyRead, &probe) == plat::kErrorSuccess) {
        plat::RegCloseKey(probe);
        plat::RegCloseKey(suiteKey);
        g_firstBootAnswer = false;
        return false;
    }
    const plat::LONG rc =
        plat::RegCreateKey(suiteKey, kFirstCheckAfterBootKey, plat::kRegOptionVolatile, plat::kKeyAllAccess, &probe);
    if (rc == plat::kErrorSuccess) {
        plat::RegCloseKey(probe);
    } else {
        plat::SetLastError(static_cast<plat::DWORD>(rc));
        KVA_LOG_ERROR("Failed to create register key, errorcode\xEF\xBC\x9A " << plat::GetLastError());
    }
    plat::RegCloseKey(suiteKey);
    g_firstBootAnswer = true;
    return true;
}

bool IsDecimal(const std::wstring& s) {
    if (s.empty() || s.size() > 9) return false;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') return false;
    }
    return true;
}

}  // namespace

bool IsKnownDriverType(const std::string& code) {
    if (code.empty() || code.size() > 3) return false;
    for (char c : code) {
        if (c < '0' || c > '9') return false;
    }
    if (code.size() > 1 && code[0] == '0') return false;
    const int n = std::atoi(code.c_str());
    return (n >= 0 && n <= 45 && n != 7) || (n >= 99 && n <= 103);
}

std::wstring GetDriverDisplayName(const std::string& code, std::uint32_t kind) {
    auto* culture = DuiLib::UICulture::GetInstance();
    std::wstring name = LocalisedOrEmpty(L"IDS_DRVUP_ADD_BY_DRIVER_ID_" + plat::FromUtf8(code));
    if (!name.empty()) return name;
    const long n = CodeNumber(code);
    if (n >= 1 && n <= 40) {
        const wchar_t* stem = kDriverNameStems[static_cast<std::size_t>(n)];
        return culture->GetString(std::wstring(L"IDS_DRVUP_") + stem + L"_NAME");
    }
    if (n < 0) return culture->GetString(L"IDS_DRVUP_DEFAULT_NAME");
    if (n >= 41) {
        const wchar_t* key = kind == CDriverInfoListMgr::kTypeFirmware ? L"IDS_DRVUP_TEMPLATE_FIRMWARE_NAME"
                                                                       : L"IDS_DRVUP_TEMPLATE_DRIVER_NAME";
        return culture->GetTextVarStr(key, {CDriverInfoListMgr::getInstance().getAppName(code)});
    }
    return {};
}

std::wstring GetDriverIconMarkup(const std::string& code) {
    std::wstring markup = L"file='..\\..\\res\\drawable\\appmanager\\DriverRes\\";
    if (!CDriverInfoListMgr::getInstance().getAppName(code).empty()) {
        markup += plat::FromUtf8(code) + L".png' ";
    } else {
        markup += L"ic_drive_defult.png' ";
    }
    return markup + L"source='0,0,42,42' dest='3,3,15,15'";
}

bool IsWndExists(bool bLongList) {
    auto visible = [](const wchar_t* cls) {
        const plat::HWND hwnd = plat::FindTopWindow(cls);
        if (hwnd == 0 || !plat::IsWindowShown(hwnd)) return false;
        KVA_LOG_ERROR("wnd exist : " << plat::ToUtf8(cls));
        return true;
    };
    for (const wchar_t* cls : kShortBusyClasses) {
        if (visible(cls)) return true;
    }
    if (!bLongList) return false;
    for (const wchar_t* cls : kLongBusyClasses) {
        if (visible(cls)) return true;
    }
    return false;
}

bool IsFirstBootComputer(enumWhichCall which) {
    const bool asked0 = g_askedBy0, asked1 = g_askedBy1;
    if (asked0 && asked1) return false;
    if (asked0 != asked1 && g_firstBootAnswer) {
        MarkAsked(which);
        return true;
    }
    MarkAsked(which);
    return ProbeFirstBootKey();
}

bool IsShopModel() {
    return DE::FileExists(plat::ToUtf8(kShopModelMarkerFile)) &&
           FileInfo::VerifyDigitalSignature(kShopModelMarkerFile, false);
}

std::string GetLoginGuideProtocol() {
    const std::wstring key = UserKey(kLoginGuideKey);
    std::wstring protocol;
    if (!DE::Registry::GetValue(plat::kHKeyUsers, key, kLoginGuideProtocolValue, protocol, plat::kKeyRead) ||
        protocol.empty()) {
        return {};
    }
    if (protocol.size() > 259) protocol.resize(259);  // what a MAX_PATH buffer holds
    std::wstring version;
    plat::DWORD numeric = 0;
    if (DE::Registry::GetValue(plat::kHKeyUsers, key, kLoginGuideProtocolVerValue, numeric, plat::kKeyRead)) {
        version = std::to_wstring(numeric);
    } else if (!DE::Registry::GetValue(plat::kHKeyUsers, key, kLoginGuideProtocolVerValue, version, plat::kKeyRead)) {
        return "0";
    }
    if (!IsDecimal(version) || std::stol(version) < std::stol(kLowestProtocolVersion)) return "0";
    return plat::ToUtf8(protocol);
}

namespace SystemEnvironment {

std::string GetDeviceTypeEx() {
    std::wstring name;
    const int rc = ProductAdapt::MachineType::GetInstance()->GetProductName(name);
    if (rc == 0 && !name.empty()) return plat::ToUtf8(name);
    plat::OutputDebugString(L"fail to get product name. result:" + std::to_wstring(rc) +
                            L"(SystemEnvironment::GetDeviceTypeEx)\n");
    return plat::ToUtf8(name);
}

}  // namespace SystemEnvironment

namespace internal {

void ResetFirstBootProbe() {
    g_askedBy0 = false;
    g_askedBy1 = false;
    g_firstBootAnswer = true;
}

}  // namespace internal
