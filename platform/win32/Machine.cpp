// The machine on Windows is the real one. The state folder holds what the suite's tools keep
// beside it (logs, overrides of facts for testing); the boot id comes from a volatile registry key,
// which Windows itself drops at every boot.
#include "kva/platform/Machine.h"

#include "Win32.h"
#include <sddl.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"
#include "kva/platform/Types.h"

namespace plat {

namespace {

constexpr wchar_t kFactsSection[] = L"facts";
constexpr wchar_t kBootKey[] = L"SOFTWARE\\Vantor\\KVAUpdaterCheck\\Boot";

std::mutex g_folderMutex;
std::filesystem::path g_folder;  // guarded by g_folderMutex; empty until first use

std::wstring EnvVar(const wchar_t* name) {
    const ::DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return {};
    std::wstring v(n, L'\0');
    const ::DWORD got = ::GetEnvironmentVariableW(name, v.data(), n);
    v.resize(got);
    return v;
}

std::wstring FactsFile() { return (StateFolder() / "facts.ini").wstring(); }

// The volatile key's creation time: the same for every process of one boot, new after a reboot.
std::optional<std::string> BootKeyStamp(HKEY root, const std::wstring& path) {
    HKEY key = 0;
    if (RegCreateKey(root, path, kRegOptionVolatile, kKeyRead, &key) != kErrorSuccess) return std::nullopt;
    FILETIME written{};
    const LONG rc = ::RegQueryInfoKeyW(reinterpret_cast<::HKEY>(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, &written);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof(text), "%08lx%08lx", static_cast<unsigned long>(written.dwHighDateTime),
                  static_cast<unsigned long>(written.dwLowDateTime));
    return std::string(text);
}

}  // namespace

DWORD GetLastError() { return static_cast<DWORD>(::GetLastError()); }
void SetLastError(DWORD code) { ::SetLastError(code); }

bool OpenMachine(const std::filesystem::path& stateFolder) {
    std::error_code ec;
    std::filesystem::create_directories(stateFolder, ec);
    if (!std::filesystem::is_directory(stateFolder, ec)) return false;
    std::lock_guard lock(g_folderMutex);
    g_folder = std::filesystem::absolute(stateFolder, ec);
    return true;
}

std::filesystem::path StateFolder() {
    {
        std::lock_guard lock(g_folderMutex);
        if (!g_folder.empty()) return g_folder;
    }
    const std::wstring env = EnvVar(L"KVA_STATE");
    OpenMachine(env.empty() ? DefaultStateFolder() : std::filesystem::path(env));
    std::lock_guard lock(g_folderMutex);
    return g_folder;
}

std::filesystem::path DefaultStateFolder() {
    std::wstring base = EnvVar(L"LOCALAPPDATA");
    if (base.empty()) base = EnvVar(L"TEMP");
    return std::filesystem::path(base) / "kva" / "machine";
}

std::string BootId() {
    // The machine-wide key when we may write HKLM, else the user's (dropped at log-off as well).
    if (auto id = BootKeyStamp(kHKeyLocalMachine, kBootKey)) return *id;
    if (auto id = BootKeyStamp(kHKeyUsers, CurrentUserSid() + L"\\" + kBootKey)) return "u" + *id;
    return "unknown-boot";
}

void SimulateReboot() {
    // A real machine reboots for real; nothing here may pretend it did.
    ::SetLastError(ERROR_NOT_SUPPORTED);
}

std::optional<std::string> GetOverride(const std::string& fact) {
    static constexpr wchar_t kAbsent[] = L"\x1f<absent>";
    std::vector<wchar_t> buf(1024);
    const std::wstring file = FactsFile();
    ::GetPrivateProfileStringW(kFactsSection, FromUtf8(fact).c_str(), kAbsent, buf.data(),
                               static_cast<::DWORD>(buf.size()), file.c_str());
    const std::wstring v(buf.data());
    if (v == kAbsent) return std::nullopt;
    return ToUtf8(v);
}

bool SetOverride(const std::string& fact, const std::string& value) {
    return ::WritePrivateProfileStringW(kFactsSection, FromUtf8(fact).c_str(), FromUtf8(value).c_str(),
                                        FactsFile().c_str()) != FALSE;
}

bool ClearOverride(const std::string& fact) {
    return ::WritePrivateProfileStringW(kFactsSection, FromUtf8(fact).c_str(), nullptr, FactsFile().c_str()) !=
           FALSE;
}

std::vector<std::pair<std::string, std::string>> ListOverrides() {
    std::vector<wchar_t> buf(32768);
    const ::DWORD n = ::GetPrivateProfileSectionW(kFactsSection, buf.data(), static_cast<::DWORD>(buf.size()),
                                                  FactsFile().c_str());
    std::vector<std::pair<std::string, std::string>> out;
    // "name=value\0name=value\0\0"
    for (const wchar_t* p = buf.data(); p < buf.data() + n && *p; p += wcslen(p) + 1) {
        const std::wstring line(p);
        const auto eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        out.emplace_back(ToUtf8(line.substr(0, eq)), ToUtf8(line.substr(eq + 1)));
    }
    return out;
}

std::string ProductName() {
    if (auto o = GetOverride("product")) return *o;
    HKEY key = 0;
    std::wstring name;
    if (RegOpenKey(kHKeyLocalMachine, L"HARDWARE\\DESCRIPTION\\System\\BIOS", kKeyRead, &key) == kErrorSuccess) {
        RegGetString(key, L"SystemProductName", &name);
        RegCloseKey(key);
    }
    return name.empty() ? "Unknown" : ToUtf8(name);
}

std::wstring CurrentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    win32::CHandle owned(token);
    ::DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buf(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buf.data(), size, &size)) return {};
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &text)) return {};
    std::wstring sid(text);
    ::LocalFree(text);
    return sid;
}

}  // namespace plat
