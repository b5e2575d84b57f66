// On Windows a Windows path is the host path: no drive folders, only the separators and ".."
// steps normalised, so a crafted path still cannot climb above its drive's root.
#include "kva/platform/Paths.h"

#include "Win32.h"
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>

#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

std::string KnownFolder(const KNOWNFOLDERID& id, const char* fallback) {
    wchar_t* path = nullptr;
    std::string out = fallback;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) out = ToUtf8(path);
    ::CoTaskMemFree(path);
    return out;
}

// The folder's owner is the current user (or, for an administrator, the Administrators group
// Windows makes the default owner).
bool OwnedByUs(const std::wstring& folder) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                nullptr, nullptr, &sd) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t* text = nullptr;
    bool ours = false;
    if (::ConvertSidToStringSidW(owner, &text)) {
        ours = CurrentUserSid() == text || std::wstring(text) == L"S-1-5-32-544";
        ::LocalFree(text);
    }
    ::LocalFree(sd);
    return ours;
}

// Only the current user (and the system, which Windows needs) may enter; nothing inherited.
bool RestrictToUser(const std::wstring& folder) {
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + CurrentUserSid() + L")(A;OICI;FA;;;SY)";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
        return false;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    const ::DWORD rc = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, dacl, nullptr);
    ::LocalFree(sd);
    return rc == ERROR_SUCCESS;
}

}  // namespace

std::filesystem::path ToHostPath(std::string_view windowsPath) { return ToHostPath(FromUtf8(windowsPath)); }

std::filesystem::path ToHostPath(std::wstring_view windowsPath) {
    std::wstring p(windowsPath);
    if (p.rfind(L"\\\\?\\", 0) == 0) p.erase(0, 4);  // long-path prefix
    std::replace(p.begin(), p.end(), L'/', L'\\');
    return std::filesystem::path(p).lexically_normal();
}

std::string ToWindowsPath(const std::filesystem::path& hostPath) {
    return ToUtf8(hostPath.lexically_normal().make_preferred().wstring());
}

std::string ProgramDataFolder() { return KnownFolder(FOLDERID_ProgramData, "C:\\ProgramData"); }
std::string ProgramFilesX86() { return KnownFolder(FOLDERID_ProgramFilesX86, "C:\\Program Files (x86)"); }

bool MakePrivateFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    if (!folder.parent_path().empty()) std::filesystem::create_directories(folder.parent_path(), ec);
    const std::wstring path = folder.wstring();
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const ::DWORD attributes = ::GetFileAttributesW(path.c_str());
    // A junction or symbolic link could point the private files anywhere.
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return false;
    }
    return OwnedByUs(path) && RestrictToUser(path);
}

}  // namespace plat
