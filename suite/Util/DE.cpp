#include "Util/DE.h"

#include <ctime>
#include <filesystem>

#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"

namespace DE {

namespace {

// Opens a key for one value operation; closes it on scope exit.
class CScopedKey {
public:
    CScopedKey(plat::HKEY root, const std::wstring& key, plat::DWORD access, bool create) {
        const plat::LONG rc = create ? plat::RegCreateKey(root, key, plat::kRegOptionNonVolatile, access, &m_key)
                                     : plat::RegOpenKey(root, key, access, &m_key);
        if (rc != plat::kErrorSuccess) {
            plat::SetLastError(static_cast<plat::DWORD>(rc));
            m_key = 0;
        }
    }
    ~CScopedKey() {
        if (m_key) plat::RegCloseKey(m_key);
    }
    CScopedKey(const CScopedKey&) = delete;
    CScopedKey& operator=(const CScopedKey&) = delete;
    plat::HKEY get() const { return m_key; }

private:
    plat::HKEY m_key = 0;
};

bool Check(plat::LONG rc) {
    if (rc == plat::kErrorSuccess) return true;
    plat::SetLastError(static_cast<plat::DWORD>(rc));
    return false;
}

}  // namespace

namespace Registry {

bool GetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, plat::DWORD& value,
              plat::DWORD access) {
    CScopedKey k(root, key, access, false);
    return k.get() && Check(plat::RegGetDword(k.get(), name, &value));
}

bool GetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, std::wstring& value,
              plat::DWORD access) {
    CScopedKey k(root, key, access, false);
    return k.get() && Check(plat::RegGetString(k.get(), name, &value));
}

bool SetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, plat::DWORD value,
              plat::DWORD access) {
    CScopedKey k(root, key, access, true);
    return k.get() && Check(plat::RegSetDword(k.get(), name, value));
}

bool SetValue(plat::HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& value,
              plat::DWORD access) {
    CScopedKey k(root, key, access, true);
    return k.get() && Check(plat::RegSetString(k.get(), name, value));
}

bool SetRegKVAServicePath(bool registered) {
    return SetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Pilotdeck", L"KVAServicePath",
                    registered ? 1u : 0u);
}

}  // namespace Registry

std::int64_t Now() { return plat::CClock::Get().WallMs() / 1000; }

std::string FormatDateTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

bool DeleteDeepDirectory(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(plat::ToHostPath(path), ec);
    return !ec;
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(plat::ToHostPath(path), ec);
}

bool EnableAccessFileForEveryone(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto host = plat::ToHostPath(path);
    if (!fs::is_regular_file(host, ec)) return false;
    fs::permissions(host, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::group_write | fs::perms::others_read | fs::perms::others_write,
                    fs::perm_options::add, ec);
    return !ec;
}

std::string UnicodeToUTF8(const std::wstring& text) { return plat::ToUtf8(text); }
std::wstring UTF8ToUnicode(const std::string& text) { return plat::FromUtf8(text); }

bool IsProcessExists(const std::wstring& exeName) { return plat::ProcessExists(exeName); }

}  // namespace DE

namespace VTPROCESS {
std::wstring GetCurrentUserSidstr() { return plat::CurrentUserSid(); }
}  // namespace VTPROCESS
