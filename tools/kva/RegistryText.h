// Registry paths and values as people type them: "HKLM\\SOFTWARE\\X" or "HKEY_USERS\\S-1-...",
// and values as "dword:5" / REG_DWORD or text / REG_SZ.
#pragma once

#include <optional>
#include <string>

#include "kva/platform/Registry.h"

namespace kva {

struct CRegPath {
    plat::HKEY root = 0;
    std::wstring subKey;
};

// The root may be spelled HKEY_LOCAL_MACHINE, HKLM, HKEY_USERS or HKU (any case); "/" works as "\\".
std::optional<CRegPath> ParseRegPath(const std::string& text);

// "HKLM\\SOFTWARE\\X": how the verbs echo a key back.
std::string FormatRegPath(const CRegPath& path);

// One line per value: `name  REG_DWORD  5` or `name  REG_SZ  "text"`.
std::string FormatRegValue(const plat::RegValue& value);

}  // namespace kva
