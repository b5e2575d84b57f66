// The suite's registry, time, file and process helpers.
#pragma once

#include <cstdint>
#include <string>

#include "kva/platform/Types.h"

namespace DE {

namespace Registry {
// Each opens `key` under `root` with `access`, reads or writes one value and closes the key.
// False when the key or value cannot be opened, read or written (the platform's last error tells
// why). SetValue creates the key when it is missing.
bool GetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, plat::DWORD& value,
              plat::DWORD access = plat::kKeyAllAccess);
bool GetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value,
              plat::DWORD access = plat::kKeyAllAccess);
bool SetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, plat::DWORD value,
              plat::DWORD access = plat::kKeyAllAccess);
bool SetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value,
              plat::DWORD access = plat::kKeyAllAccess);
// Marks whether the service's own path is registered with the embedded controller's driver
// (HKEY_LOCAL_MACHINE "SOFTWARE\\Vantor\\Pilotdeck", DWORD "KVAServicePath"). The firmware
// upgrade clears it while it opens the driver's device and sets it again afterwards.
bool SetRegKVAServicePath(bool registered);
}  // namespace Registry

// Current time in seconds since 1970 (UTC), from the platform clock.
std::int64_t Now();
// "YYYY-MM-DD HH:MM:SS" in UTC for seconds since 1970.
std::string FormatDateTime(std::int64_t seconds);

// Windows paths or host paths. DeleteDeepDirectory removes the folder and all below it; false
// when it existed and could not be removed.
bool DeleteDeepDirectory(const std::string& path);
bool FileExists(const std::string& path);
// Lets every user of the machine read and write the file (the installer runs as another user).
// False when the file is missing or its permissions cannot be changed.
bool EnableAccessFileForEveryone(const std::string& path);

std::string UnicodeToUTF8(const std::wstring& text);
std::wstring UTF8ToUnicode(const std::string& text);

bool IsProcessExists(const std::wstring& exeName);

}  // namespace DE

namespace VTPROCESS {
// The SID string of the user the suite runs for.
std::wstring GetCurrentUserSidstr();
}  // namespace VTPROCESS
