#include "kva/platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

bool HasDriveLetter(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' &&
           ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

// Adds one component with a separator, unless `out` is empty or already ends with one.
void AppendPart(std::string& out, std::string_view part) {
    if (!out.empty() && out.back() != '/') out += '/';
    out += part;
}

}  // namespace

// Built as one string: the service maps a path for most file calls, thousands a check.
std::filesystem::path ToHostPath(std::string_view windowsPath) {
    std::string_view p = windowsPath;
    if (p.starts_with("\\\\?\\")) p.remove_prefix(4);  // long-path prefix
    if (!HasDriveLetter(p)) {
        std::string s(p);
        std::replace(s.begin(), s.end(), '\\', '/');
        return std::filesystem::path(std::move(s)).lexically_normal();
    }
    std::string out = StateFolder().native();
    AppendPart(out, std::string("drive_") + static_cast<char>(std::tolower(p[0])));
    const std::size_t driveEnd = out.size();
    // Walk the components so ".." can never climb out of the drive folder.
    p.remove_prefix(2);
    std::size_t pos = 0;
    while (pos <= p.size()) {
        std::size_t next = p.find_first_of("\\/", pos);
        if (next == std::string_view::npos) next = p.size();
        const std::string_view part = p.substr(pos, next - pos);
        if (part == "..") {
            if (out.size() > driveEnd) out.resize(out.rfind('/'));
        } else if (!part.empty() && part != ".") {
            AppendPart(out, part);
        }
        pos = next + 1;
    }
    return std::filesystem::path(std::move(out));
}

std::filesystem::path ToHostPath(std::wstring_view windowsPath) { return ToHostPath(ToUtf8(windowsPath)); }

std::string ToWindowsPath(const std::filesystem::path& hostPath) {
    const std::filesystem::path state = StateFolder();
    const auto rel = hostPath.lexically_normal().lexically_relative(state);
    std::string relStr = rel.generic_string();
    if (!rel.empty() && relStr.rfind("drive_", 0) == 0 && relStr.size() >= 7 &&
        (relStr.size() == 7 || relStr[7] == '/')) {
        std::string out;
        out += static_cast<char>(std::toupper(relStr[6]));
        out += ":\\";
        std::string rest = relStr.size() > 8 ? relStr.substr(8) : "";
        std::replace(rest.begin(), rest.end(), '/', '\\');
        return out + rest;
    }
    return hostPath.generic_string();
}

std::string ProgramDataFolder() { return "C:\\ProgramData"; }
std::string ProgramFilesX86() { return "C:\\Program Files (x86)"; }

bool MakePrivateFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    if (!folder.parent_path().empty()) std::filesystem::create_directories(folder.parent_path(), ec);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & 0777) != 0700 && chmod(folder.c_str(), 0700) != 0) return false;
    return true;
}

}  // namespace plat
