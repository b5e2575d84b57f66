#include "kva/platform/Registry.h"

#include <map>
#include <mutex>
#include <optional>

#include "MachineDb.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

constexpr LONG kErrorKeyDeleted = 1018;
constexpr int kTypeString = 1;
constexpr int kTypeDword = 4;

struct OpenKey {
    HKEY hive = 0;
    std::int64_t id = 0;
    DWORD access = 0;
};

std::mutex g_handlesMutex;
std::map<HKEY, OpenKey> g_handles;
HKEY g_nextHandle = 0x1000;

bool IsRoot(HKEY k) { return k == kHKeyUsers || k == kHKeyLocalMachine; }

std::string Join(const std::vector<std::string>& parts, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        if (i) out += '\\';
        out += parts[i];
    }
    return out;
}

// Resolves a handle (a root or an open key) to its hive and path.
bool Resolve(HKEY key, HKEY* hive, std::string* path, DWORD* access) {
    if (IsRoot(key)) {
        *hive = key;
        path->clear();
        if (access) *access = kKeyAllAccess;
        return true;
    }
    OpenKey open;
    {
        std::lock_guard lock(g_handlesMutex);
        auto it = g_handles.find(key);
        if (it == g_handles.end()) return false;
        open = it->second;
    }
    auto p = sim::CMachineDb::Current().ReadText("SELECT path FROM reg_keys WHERE id=?", {open.id});
    if (!p) return false;
    *hive = open.hive;
    *path = *p;
    if (access) *access = open.access;
    return true;
}

struct KeyRow {
    std::int64_t id;
    std::optional<std::string> volatileBoot;
};

std::optional<std::string> TextOf(const sim::DbValue& v) {
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    return std::nullopt;
}

std::int64_t IntOf(const sim::DbValue& v) {
    auto* n = std::get_if<std::int64_t>(&v);
    return n ? *n : 0;
}

std::optional<KeyRow> FindKey(HKEY hive, const std::string& path) {
    const auto rows = sim::CMachineDb::Current().ReadRows(
        "SELECT id, volatile_boot FROM reg_keys WHERE hive=? AND lpath=?",
        {static_cast<std::int64_t>(hive), AsciiLower(path)});
    if (rows->empty()) return std::nullopt;
    KeyRow row{IntOf((*rows)[0][0]), TextOf((*rows)[0][1])};
    if (row.volatileBoot && *row.volatileBoot != BootId()) return std::nullopt;
    return row;
}

HKEY NewHandle(HKEY hive, std::int64_t id, DWORD access) {
    std::lock_guard lock(g_handlesMutex);
    HKEY h = g_nextHandle++;
    g_handles[h] = OpenKey{hive, id, access};
    return h;
}

// The key's id behind an open handle, checking that the key still lives and the access allows.
LONG KeyForValue(HKEY key, DWORD needed, std::int64_t* id) {
    if (IsRoot(key)) return kErrorAccessDenied;  // the roots hold no values here
    OpenKey open;
    {
        std::lock_guard lock(g_handlesMutex);
        auto it = g_handles.find(key);
        if (it == g_handles.end()) return kErrorInvalidHandle;
        open = it->second;
    }
    if ((open.access & needed) != needed) return kErrorAccessDenied;
    // The boot is asked only for a volatile key: most keys are not.
    const auto rows = sim::CMachineDb::Current().ReadRows("SELECT volatile_boot FROM reg_keys WHERE id=?", {open.id});
    if (rows->empty()) return kErrorKeyDeleted;
    if (auto boot = TextOf((*rows)[0][0]); boot && *boot != BootId()) return kErrorKeyDeleted;
    *id = open.id;
    return kErrorSuccess;
}

LONG SetValue(HKEY key, std::wstring_view name, int type, std::optional<DWORD> dword,
              std::optional<std::string> text) {
    std::int64_t id = 0;
    if (LONG rc = KeyForValue(key, kKeySetValue, &id); rc != kErrorSuccess) return rc;
    const std::string n = ToUtf8(name);
    std::vector<sim::DbValue> params{id, n, AsciiLower(n), static_cast<std::int64_t>(type)};
    if (dword) params.emplace_back(static_cast<std::int64_t>(*dword));
    else params.emplace_back(nullptr);
    if (text) params.emplace_back(*text);
    else params.emplace_back(nullptr);
    bool ok = sim::CMachineDb::Current().Exec(
        "INSERT OR REPLACE INTO reg_values(key_id, name, lname, type, dword, text) VALUES(?,?,?,?,?,?)",
        params);
    return ok ? kErrorSuccess : kErrorInternal;
}

// Reads a value row; returns kErrorFileNotFound when absent.
LONG GetValue(HKEY key, std::wstring_view name, int wantType, std::int64_t* dword, std::string* text) {
    std::int64_t id = 0;
    if (LONG rc = KeyForValue(key, kKeyQueryValue, &id); rc != kErrorSuccess) return rc;
    const auto rows = sim::CMachineDb::Current().ReadRows(
        "SELECT type, dword, text FROM reg_values WHERE key_id=? AND lname=?", {id, AsciiLower(ToUtf8(name))});
    if (rows->empty()) return kErrorFileNotFound;
    const sim::DbRow& row = (*rows)[0];
    if (IntOf(row[0]) != wantType) return kErrorUnsupportedType;
    if (dword) *dword = IntOf(row[1]);
    if (text) *text = TextOf(row[2]).value_or(std::string());
    return kErrorSuccess;
}

// The full path of root + subKey, components joined by one backslash (doubled, leading and
// trailing separators and slashes dropped), and the hive.
LONG FullPath(HKEY root, std::wstring_view subKey, HKEY* hive, std::string* path) {
    if (!Resolve(root, hive, path, nullptr)) return kErrorInvalidHandle;
    bool separator = !path->empty();
    for (char c : ToUtf8(subKey)) {
        if (c == '\\' || c == '/') {
            separator = !path->empty();
            continue;
        }
        if (separator) *path += '\\';
        separator = false;
        *path += c;
    }
    return path->empty() ? kErrorInvalidParameter : kErrorSuccess;
}

// The components of FullPath, for a key's creation, which makes each missing ancestor.
LONG FullParts(HKEY root, std::wstring_view subKey, HKEY* hive, std::vector<std::string>* parts) {
    std::string path;
    if (LONG rc = FullPath(root, subKey, hive, &path); rc != kErrorSuccess) return rc;
    parts->clear();
    for (std::size_t start = 0;;) {
        const std::size_t end = path.find('\\', start);
        parts->push_back(path.substr(start, end - start));
        if (end == std::string::npos) return kErrorSuccess;
        start = end + 1;
    }
}

}  // namespace

LONG RegOpenKey(HKEY root, std::wstring_view subKey, DWORD access, HKEY* key) {
    if (!key) return kErrorInvalidParameter;
    *key = 0;
    HKEY hive = 0;
    std::string path;
    if (LONG rc = FullPath(root, subKey, &hive, &path); rc != kErrorSuccess) return rc;
    auto row = FindKey(hive, path);
    if (!row) return kErrorFileNotFound;
    *key = NewHandle(hive, row->id, access);
    return kErrorSuccess;
}

LONG RegCreateKey(HKEY root, std::wstring_view subKey, DWORD options, DWORD access, HKEY* key,
                  DWORD* disposition) {
    if (!key) return kErrorInvalidParameter;
    *key = 0;
    HKEY hive = 0;
    std::vector<std::string> parts;
    if (LONG rc = FullParts(root, subKey, &hive, &parts); rc != kErrorSuccess) return rc;
    const bool wantVolatile = (options & kRegOptionVolatile) != 0;
    const std::string boot = BootId();
    auto& db = sim::CMachineDb::Current();
    LONG rc = kErrorSuccess;
    std::int64_t id = 0;
    bool created = false;
    bool ok = db.Transaction([&] {
        bool parentVolatile = false;
        for (std::size_t n = 1; n <= parts.size(); ++n) {
            const std::string path = Join(parts, n);
            if (auto row = FindKey(hive, path)) {
                parentVolatile = row->volatileBoot.has_value();
                id = row->id;
                continue;
            }
            if (parentVolatile && !wantVolatile) {
                rc = kErrorChildMustBeVolatile;
                return false;
            }
            // A stale volatile row of an earlier boot may still hold the name.
            db.Exec("DELETE FROM reg_keys WHERE hive=? AND lpath=?",
                    {static_cast<std::int64_t>(hive), AsciiLower(path)});
            std::vector<sim::DbValue> params{static_cast<std::int64_t>(hive), path, AsciiLower(path)};
            if (wantVolatile) params.emplace_back(boot);
            else params.emplace_back(nullptr);
            if (!db.Exec("INSERT INTO reg_keys(hive, path, lpath, volatile_boot) VALUES(?,?,?,?)", params)) {
                rc = kErrorInternal;
                return false;
            }
            id = db.LastInsertId();
            parentVolatile = wantVolatile;
            created = n == parts.size();
        }
        return true;
    });
    if (!ok) return rc == kErrorSuccess ? kErrorInternal : rc;
    if (disposition) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    *key = NewHandle(hive, id, access);
    return kErrorSuccess;
}

LONG RegCloseKey(HKEY key) {
    if (IsRoot(key)) return kErrorSuccess;
    std::lock_guard lock(g_handlesMutex);
    return g_handles.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

LONG RegGetDword(HKEY key, std::wstring_view name, DWORD* value) {
    std::int64_t v = 0;
    LONG rc = GetValue(key, name, kTypeDword, &v, nullptr);
    if (rc == kErrorSuccess && value) *value = static_cast<DWORD>(v);
    return rc;
}

LONG RegGetString(HKEY key, std::wstring_view name, std::wstring* value) {
    std::string v;
    LONG rc = GetValue(key, name, kTypeString, nullptr, &v);
    if (rc == kErrorSuccess && value) *value = FromUtf8(v);
    return rc;
}

LONG RegGetStringAt(HKEY root, std::wstring_view subKey, std::wstring_view name, std::wstring* value) {
    HKEY hive = 0;
    std::string path;
    if (LONG rc = FullPath(root, subKey, &hive, &path); rc != kErrorSuccess) return rc;
    // One query for key and value: callers reading one value from thousands of keys pay for the
    // key lookup, the liveness check and the value read only once.
    const auto rows = sim::CMachineDb::Current().ReadRows(
        "SELECT k.volatile_boot, v.type, v.text FROM reg_keys k LEFT JOIN reg_values v "
        "ON v.key_id=k.id AND v.lname=? WHERE k.hive=? AND k.lpath=?",
        {AsciiLower(ToUtf8(name)), static_cast<std::int64_t>(hive), AsciiLower(path)});
    if (rows->empty()) return kErrorFileNotFound;
    const sim::DbRow& row = (*rows)[0];
    if (auto boot = TextOf(row[0]); boot && *boot != BootId()) return kErrorFileNotFound;
    if (std::holds_alternative<std::nullptr_t>(row[1])) return kErrorFileNotFound;
    if (IntOf(row[1]) != kTypeString) return kErrorUnsupportedType;
    if (value) *value = FromUtf8(TextOf(row[2]).value_or(std::string()));
    return kErrorSuccess;
}

LONG RegGetStringsBelow(HKEY root, std::wstring_view subKey, std::wstring_view name,
                        std::map<std::string, std::wstring>* values) {
    if (!values) return kErrorInvalidParameter;
    values->clear();
    HKEY hive = 0;
    std::string path;
    if (LONG rc = FullPath(root, subKey, &hive, &path); rc != kErrorSuccess) return rc;
    const std::string prefix = AsciiLower(path) + "\\";
    std::optional<std::string> boot;
    // The children's paths sort between "prefix\\" and "prefix]" (']' follows '\\'), so the key index
    // serves the range.
    bool ok = sim::CMachineDb::Current().Exec(
        "SELECT k.lpath, k.volatile_boot, v.text FROM reg_keys k JOIN reg_values v "
        "ON v.key_id=k.id AND v.lname=? AND v.type=? WHERE k.hive=? AND k.lpath>? AND k.lpath<?",
        {AsciiLower(ToUtf8(name)), static_cast<std::int64_t>(kTypeString), static_cast<std::int64_t>(hive), prefix,
         prefix.substr(0, prefix.size() - 1) + "]"},
        [&](sqlite3_stmt* s) {
            std::string child = sim::ColumnText(s, 0).substr(prefix.size());
            if (child.find('\\') != std::string::npos) return;  // deeper than one level
            if (sqlite3_column_type(s, 1) != SQLITE_NULL) {
                if (!boot) boot = BootId();
                if (sim::ColumnText(s, 1) != *boot) return;
            }
            (*values)[std::move(child)] = FromUtf8(sim::ColumnText(s, 2));
        });
    return ok ? kErrorSuccess : kErrorInternal;
}

LONG RegSetDword(HKEY key, std::wstring_view name, DWORD value) {
    return SetValue(key, name, kTypeDword, value, std::nullopt);
}

LONG RegSetString(HKEY key, std::wstring_view name, std::wstring_view value) {
    return SetValue(key, name, kTypeString, std::nullopt, ToUtf8(value));
}

LONG RegDeleteValue(HKEY key, std::wstring_view name) {
    std::int64_t id = 0;
    if (LONG rc = KeyForValue(key, kKeySetValue, &id); rc != kErrorSuccess) return rc;
    auto& db = sim::CMachineDb::Current();
    if (!db.Exec("DELETE FROM reg_values WHERE key_id=? AND lname=?", {id, AsciiLower(ToUtf8(name))})) {
        return kErrorInternal;
    }
    return db.Changes() > 0 ? kErrorSuccess : kErrorFileNotFound;
}

LONG RegDeleteTree(HKEY root, std::wstring_view subKey) {
    HKEY hive = 0;
    std::string path;
    if (LONG rc = FullPath(root, subKey, &hive, &path); rc != kErrorSuccess) return rc;
    const std::string lpath = AsciiLower(path);
    if (!FindKey(hive, lpath)) return kErrorFileNotFound;
    bool ok = sim::CMachineDb::Current().Exec(
        "DELETE FROM reg_keys WHERE hive=? AND (lpath=? OR substr(lpath, 1, ?)=?)",
        {static_cast<std::int64_t>(hive), lpath, static_cast<std::int64_t>(lpath.size() + 1),
         lpath + "\\"});
    return ok ? kErrorSuccess : kErrorInternal;
}

std::vector<RegKeyDump> RegDumpAll() {
    std::vector<RegKeyDump> out;
    std::map<std::int64_t, std::size_t> index;
    auto& db = sim::CMachineDb::Current();
    db.Exec("SELECT id, hive, path, volatile_boot FROM reg_keys "
            "WHERE volatile_boot IS NULL OR volatile_boot=? ORDER BY hive, lpath",
            {BootId()}, [&](sqlite3_stmt* s) {
                RegKeyDump k;
                const char* hive = sqlite3_column_int64(s, 1) == static_cast<std::int64_t>(kHKeyUsers)
                                       ? "HKEY_USERS\\" : "HKEY_LOCAL_MACHINE\\";
                k.path = FromUtf8(hive + sim::ColumnText(s, 2));
                k.isVolatile = sqlite3_column_type(s, 3) != SQLITE_NULL;
                index[sqlite3_column_int64(s, 0)] = out.size();
                out.push_back(std::move(k));
            });
    db.Exec("SELECT key_id, name, type, dword, text FROM reg_values ORDER BY key_id, lname", {},
            [&](sqlite3_stmt* s) {
                auto it = index.find(sqlite3_column_int64(s, 0));
                if (it == index.end()) return;
                RegValue v;
                v.name = FromUtf8(sim::ColumnText(s, 1));
                v.isDword = sqlite3_column_int(s, 2) == kTypeDword;
                v.dword = static_cast<DWORD>(sqlite3_column_int64(s, 3));
                v.text = FromUtf8(sim::ColumnText(s, 4));
                out[it->second].values.push_back(std::move(v));
            });
    return out;
}

}  // namespace plat
