// Registry: HKEY_USERS and HKEY_LOCAL_MACHINE, DWORD and string values, volatile keys.
// Paths are case-insensitive with "\\" separators, as on Windows. Every call returns a Windows
// result code and never throws. Handles are per process and thread-safe.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kva/platform/Types.h"

namespace plat {

LONG RegOpenKey(HKEY root, std::wstring_view subKey, DWORD access, HKEY* key);
// Creates every missing key along `subKey`. A volatile key (kRegOptionVolatile) vanishes with the
// boot id; a non-volatile key under a volatile one is refused with kErrorChildMustBeVolatile.
LONG RegCreateKey(HKEY root, std::wstring_view subKey, DWORD options, DWORD access, HKEY* key,
                  DWORD* disposition = nullptr);
LONG RegCloseKey(HKEY key);

// Reads need kKeyQueryValue in the handle's access mask, writes kKeySetValue.
// A value of the other type gives kErrorUnsupportedType.
LONG RegGetDword(HKEY key, std::wstring_view name, DWORD* value);
LONG RegGetString(HKEY key, std::wstring_view name, std::wstring* value);
// One string value of root\subKey without a handle (RegGetValue); kErrorFileNotFound when the key
// or the value is missing.
LONG RegGetStringAt(HKEY root, std::wstring_view subKey, std::wstring_view name, std::wstring* value);
// The string value `name` of every direct child key of root\subKey, by the child's name in ASCII
// lower case (children without it are left out); an empty map when the key is missing.
LONG RegGetStringsBelow(HKEY root, std::wstring_view subKey, std::wstring_view name,
                        std::map<std::string, std::wstring>* values);
LONG RegSetDword(HKEY key, std::wstring_view name, DWORD value);
LONG RegSetString(HKEY key, std::wstring_view name, std::wstring_view value);
LONG RegDeleteValue(HKEY key, std::wstring_view name);
// Deletes the key and everything below it.
LONG RegDeleteTree(HKEY root, std::wstring_view subKey);

struct RegValue {
    std::wstring name;
    bool isDword = false;
    DWORD dword = 0;
    std::wstring text;
};
struct RegKeyDump {
    std::wstring path;  // "HKEY_USERS\\S-1-...\\SOFTWARE\\..."
    bool isVolatile = false;
    std::vector<RegValue> values;
};
// Every live key of both hives with its values, for `kva machine show`.
std::vector<RegKeyDump> RegDumpAll();

}  // namespace plat
