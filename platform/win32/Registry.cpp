// The registry is Windows' own; the port's result codes are the API's, passed on unchanged.
#include "kva/platform/Registry.h"

#include <vector>

#include "Win32.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

// The port's roots are the documented 32-bit values; Windows' HKEY constants sign-extend them.
::HKEY Native(HKEY key) {
    if (key == kHKeyLocalMachine) return kWinHKeyLocalMachine;
    if (key == kHKeyUsers) return kWinHKeyUsers;
    return reinterpret_cast<::HKEY>(key);
}

HKEY Ours(::HKEY key) { return reinterpret_cast<HKEY>(key); }

LONG GetValue(HKEY key, std::wstring_view name, ::DWORD flags, void* data, ::DWORD* size) {
    return ::RegGetValueW(Native(key), nullptr, win32::Z(name).c_str(), flags | RRF_NOEXPAND, nullptr, data, size);
}

// The REG_SZ value `name` of `key`, or of its sub key `subKey` when not null. The value may grow
// between the size query and the read: ask again when it did.
LONG ReadString(::HKEY key, const wchar_t* subKey, std::wstring_view name, std::wstring* value) {
    const std::wstring valueName(name);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ::DWORD size = 0;
        LONG rc = ::RegGetValueW(key, subKey, valueName.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size);
        if (rc != ERROR_SUCCESS) return rc;
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<::DWORD>(text.size() * sizeof(wchar_t));
        rc = ::RegGetValueW(key, subKey, valueName.c_str(), RRF_RT_REG_SZ, nullptr, text.data(), &size);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return rc;
        text.resize(wcsnlen(text.c_str(), text.size()));
        if (value) *value = std::move(text);
        return rc;
    }
    return kErrorMoreData;
}

// Walks one tree depth first, appending every key with its values.
void DumpTree(::HKEY root, const std::wstring& prefix, const std::wstring& path, std::vector<RegKeyDump>* out) {
    ::HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    RegKeyDump dump;
    dump.path = prefix + path;
    std::vector<std::wstring> children;
    wchar_t name[256];
    for (::DWORD i = 0;; ++i) {
        ::DWORD len = 256;
        if (::RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name, len);
    }
    std::vector<wchar_t> valueName(16384);
    for (::DWORD i = 0;; ++i) {
        ::DWORD len = static_cast<::DWORD>(valueName.size());
        ::DWORD type = 0;
        if (::RegEnumValueW(key, i, valueName.data(), &len, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        RegValue v;
        v.name.assign(valueName.data(), len);
        if (type == REG_DWORD) {
            v.isDword = true;
            ::DWORD size = sizeof(::DWORD), d = 0;
            ::RegGetValueW(key, nullptr, v.name.c_str(), RRF_RT_REG_DWORD, nullptr, &d, &size);
            v.dword = d;
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            ::DWORD size = 0;
            ::RegGetValueW(key, nullptr, v.name.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                           nullptr, &size);
            std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
            size = static_cast<::DWORD>(text.size() * sizeof(wchar_t));
            if (::RegGetValueW(key, nullptr, v.name.c_str(), RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                               nullptr, text.data(), &size) == ERROR_SUCCESS) {
                text.resize(wcsnlen(text.c_str(), text.size()));
                v.text = std::move(text);
            }
        } else {
            continue;  // the port knows DWORDs and strings only
        }
        dump.values.push_back(std::move(v));
    }
    ::RegCloseKey(key);
    out->push_back(std::move(dump));
    for (const auto& child : children) DumpTree(root, prefix, path + L"\\" + child, out);
}

}  // namespace

LONG RegOpenKey(HKEY root, std::wstring_view subKey, DWORD access, HKEY* key) {
    if (!key) return kErrorInvalidParameter;
    *key = 0;
    ::HKEY out = nullptr;
    const LONG rc = ::RegOpenKeyExW(Native(root), win32::Z(subKey).c_str(), 0, access, &out);
    if (rc == ERROR_SUCCESS) *key = Ours(out);
    return rc;
}

LONG RegCreateKey(HKEY root, std::wstring_view subKey, DWORD options, DWORD access, HKEY* key, DWORD* disposition) {
    if (!key) return kErrorInvalidParameter;
    *key = 0;
    ::HKEY out = nullptr;
    ::DWORD disp = 0;
    const ::DWORD native = (options & kRegOptionVolatile) ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
    const LONG rc = ::RegCreateKeyExW(Native(root), win32::Z(subKey).c_str(), 0, nullptr, native, access, nullptr,
                                      &out, &disp);
    if (rc != ERROR_SUCCESS) return rc;
    *key = Ours(out);
    if (disposition) *disposition = disp == REG_CREATED_NEW_KEY ? kRegCreatedNewKey : kRegOpenedExistingKey;
    return rc;
}

LONG RegCloseKey(HKEY key) {
    if (key == kHKeyLocalMachine || key == kHKeyUsers) return kErrorSuccess;
    return ::RegCloseKey(Native(key));
}

LONG RegGetDword(HKEY key, std::wstring_view name, DWORD* value) {
    ::DWORD v = 0, size = sizeof(v);
    const LONG rc = GetValue(key, name, RRF_RT_REG_DWORD, &v, &size);
    if (rc == ERROR_SUCCESS && value) *value = v;
    return rc;
}

LONG RegGetString(HKEY key, std::wstring_view name, std::wstring* value) {
    return ReadString(Native(key), nullptr, name, value);
}

LONG RegGetStringAt(HKEY root, std::wstring_view subKey, std::wstring_view name, std::wstring* value) {
    // RegGetValue opens the sub key itself: one call per value, as the callers reading thousands
    // of keys want.
    const std::wstring path(subKey);
    return ReadString(Native(root), path.c_str(), name, value);
}

LONG RegGetStringsBelow(HKEY root, std::wstring_view subKey, std::wstring_view name,
                        std::map<std::string, std::wstring>* values) {
    if (!values) return kErrorInvalidParameter;
    values->clear();
    ::HKEY parent = nullptr;
    const LONG rc = ::RegOpenKeyExW(Native(root), win32::Z(subKey).c_str(), 0, KEY_READ, &parent);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return kErrorSuccess;
    if (rc != ERROR_SUCCESS) return rc;
    wchar_t child[256];  // a key name has at most 255 characters
    for (::DWORD i = 0;; ++i) {
        ::DWORD len = 256;
        const LONG enumRc = ::RegEnumKeyExW(parent, i, child, &len, nullptr, nullptr, nullptr, nullptr);
        if (enumRc == ERROR_NO_MORE_ITEMS) break;
        if (enumRc != ERROR_SUCCESS) {
            ::RegCloseKey(parent);
            return enumRc;
        }
        std::wstring text;
        const std::wstring childName(child, len);
        if (ReadString(parent, childName.c_str(), name, &text) == ERROR_SUCCESS) {
            (*values)[AsciiLower(ToUtf8(childName))] = std::move(text);
        }
    }
    ::RegCloseKey(parent);
    return kErrorSuccess;
}

LONG RegSetDword(HKEY key, std::wstring_view name, DWORD value) {
    const ::DWORD v = value;
    return ::RegSetValueExW(Native(key), win32::Z(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                            sizeof(v));
}

LONG RegSetString(HKEY key, std::wstring_view name, std::wstring_view value) {
    const std::wstring text(value);
    return ::RegSetValueExW(Native(key), win32::Z(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<::DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG RegDeleteValue(HKEY key, std::wstring_view name) {
    return ::RegDeleteValueW(Native(key), win32::Z(name).c_str());
}

LONG RegDeleteTree(HKEY root, std::wstring_view subKey) {
    // RegDeleteTreeW with a sub key removes that key too; an empty one would only empty the root.
    if (subKey.empty()) return kErrorInvalidParameter;
    return ::RegDeleteTreeW(Native(root), win32::Z(subKey).c_str());
}

std::vector<RegKeyDump> RegDumpAll() {
    // A real registry is far too big to list whole: the suite's trees of both hives.
    std::vector<RegKeyDump> out;
    DumpTree(kWinHKeyLocalMachine, L"HKEY_LOCAL_MACHINE\\", L"SOFTWARE\\Vantor", &out);
    DumpTree(kWinHKeyUsers, L"HKEY_USERS\\", CurrentUserSid() + L"\\SOFTWARE\\Vantor", &out);
    return out;
}

}  // namespace plat
