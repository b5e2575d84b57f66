// Helpers and names shared by every subsystem of the updater: the display name and icon of a
// driver package, the probes for busy suite windows, the first check after boot, the shop
// demonstration model, the user agreement and the machine's product name, and the folder, file
// and type-code strings of the driver-upgrade data.
//
// The helpers take no locks and may be called from any thread; IsFirstBootComputer keeps
// process-wide state and is meant for the query thread.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

// ---- Driver-upgrade folders, relative to the suite's data folder ----
inline constexpr char kDriverUpgradeDetectedFolder[] = "\\DriverUpgrade\\Detected";
inline constexpr char kDriverUpgradeDownloadedFolder[] = "\\DriverUpgrade\\Downloaded";
inline constexpr char kDriverUpgradeInstalledFolder[] = "\\DriverUpgrade\\Installed";
inline constexpr char kDriverUpgradePatchsFolder[] = "\\DriverUpgrade\\Patchs";
inline constexpr char kDriverUpgradeUpdateDetectedFolder[] = "\\DriverUpgrade\\Update\\Detected";
inline constexpr char kDriverUpgradeUpdateDownloadedFolder[] = "\\DriverUpgrade\\Update\\Downloaded";

// ---- Other folders ----
inline constexpr char kCommsPilotdeckFolder[] = "\\Comms\\Pilotdeck";
inline constexpr char kAutoFolder[] = "\\Auto";
inline constexpr char kPsiFolder[] = "\\PSI";
inline constexpr char kPatchFolder[] = "\\Patch";
inline constexpr char kRepairFolder[] = "\\Repair";
inline constexpr char kUpdateFolder[] = "\\Update";

// ---- Configuration files ----
inline constexpr char kCommonCfgFile[] = "\\config\\commoncfg.xml";
inline constexpr char kDriverCfgFile[] = "\\config\\DriverCfg.xml";
inline constexpr char kDeviceFuncSwitchConfFile[] = "config\\DeviceFuncSwitchConf.xml";

// ---- Package description files and the package file ----
inline constexpr char kDriverInfoXml[] = "DriverInfo.xml";
inline constexpr char kVersionXml[] = "Version.xml";
inline constexpr char kPatchsInfoXml[] = "PatchsInfo.xml";
inline constexpr char kChangelogXml[] = "changelog.xml";
inline constexpr char kFilelistXml[] = "filelist.xml";
inline constexpr char kUpdatetimeXml[] = "updatetime.xml";
inline constexpr char kLastCheckTimeXml[] = "\\DriverUpgrade\\LastCheckTime.xml";
inline constexpr char kUpdatePackageFile[] = "update.zip";

// ---- Check-time value names and other names ----
inline constexpr char kLastDriverCheckTime[] = "LastDriverCheckTime";
inline constexpr char kLastLanternaCheckTime[] = "LastLanternaCheckTime";
inline constexpr char kLastMessageCenterCheckTime[] = "LastMessageCenterCheckTime";
inline constexpr char kDetectedFolderPrefix[] = "DetectedFolder_";
inline constexpr char kInvolvedA[] = "involvedA";
inline constexpr char kDriverUpgradeMutexName[] = "mutex_7B9D927E-BDA2-477A-A194-3BBD689B21E0";

// ---- Code names of the suite's laptop models (kept with the other shared names; the service
// itself never consults them) ----
inline constexpr const char* kLaptopCodeNames[] = {
    "Alder", "Birch",  "Cedar", "Dogwood", "Elm",    "Fir",    "Ginkgo",   "Hazel",  "Ironwood", "Juniper", "Kapok",
    "Larch", "Maple",  "Nutmeg", "Olive",  "Poplar", "Quince", "Redwood",  "Spruce", "Tamarack", "Willow"};
static_assert(std::size(kLaptopCodeNames) == 21);

// ---- Driver type codes with a fixed role ----
inline constexpr char kDriverTypeApplication[] = "0";   // the management application's own package
inline constexpr char kDriverTypeNetwork[] = "1";       // waits for other downloads (with "15")
inline constexpr char kDriverTypeWlan[] = "15";         // waits for other downloads
inline constexpr char kDriverTypeBios[] = "23";         // forces restart level 3
inline constexpr char kDriverTypePdFirmware[] = "45";   // the USB-PD controller firmware
inline constexpr char kDriverTypeDiagnoseTool[] = "101";
// Every type code the suite knows: "0" to "45" without "7", then "99" to "103".
bool IsKnownDriverType(const std::string& code);

// ---- Wide-string constants ----
inline constexpr wchar_t kShopModelMarkerFile[] = L"C:\\Program Files (x86)\\Vantor Retail\\Retail.exe";
inline constexpr wchar_t kSuiteUserKey[] = L"\\SOFTWARE\\Vantor\\Pilotdeck";   // under HKEY_USERS\<SID>
inline constexpr wchar_t kFirstCheckAfterBootKey[] = L"FirstCheckAfterBoot";   // volatile subkey
inline constexpr wchar_t kLoginGuideKey[] = L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide";
inline constexpr wchar_t kLoginGuideProtocolValue[] = L"Protocol";
inline constexpr wchar_t kLoginGuideProtocolVerValue[] = L"ProtocolVer";
inline constexpr wchar_t kLowestProtocolVersion[] = L"8";

// Which of the two notices asks IsFirstBootComputer.
enum enumWhichCall : int {
    WHICH_CALL_SELF_UPDATE_NOTICE = 0,
    WHICH_CALL_DRIVER_NOTICE = 1,
};

// The localised name of a driver package. `kind` 2 names a firmware (for codes above 40, whose
// names come from a template filled with the device name of the configuration).
std::wstring GetDriverDisplayName(const std::string& code, std::uint32_t kind);
// The icon attribute text of a package for the suite's UI markup.
std::wstring GetDriverIconMarkup(const std::string& code);
// True while a visible window of one of the suite's busy classes exists; `bLongList` adds the
// update and main windows of the suite to the transfer and tray windows.
bool IsWndExists(bool bLongList);
// True for the first question of each caller after the machine started (a volatile registry key
// remembers the answer until the next restart); false once both callers have asked.
bool IsFirstBootComputer(enumWhichCall which);
// A shop demonstration machine: the retail marker file exists and carries the maker's signature.
bool IsShopModel();
// The user-agreement value ("1": accepted) when the agreement version is recent enough, "0" when
// it is too old or unreadable, empty when nothing was ever agreed.
std::string GetLoginGuideProtocol();

namespace SystemEnvironment {
// The machine's product name; empty when it cannot be learnt.
std::string GetDeviceTypeEx();
}  // namespace SystemEnvironment

namespace internal {
// Forgets which callers asked IsFirstBootComputer (a fresh process), for tests.
void ResetFirstBootProbe();
}  // namespace internal
