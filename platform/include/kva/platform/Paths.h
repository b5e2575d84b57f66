// Windows paths on the simulated machine. Drive letters map into the state folder Wine-style:
// "C:\\Program Files (x86)\\X" is <state>/drive_c/Program Files (x86)/X. Host paths (starting with
// '/') pass through with backslashes turned into separators.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace plat {

std::filesystem::path ToHostPath(std::string_view windowsPath);
std::filesystem::path ToHostPath(std::wstring_view windowsPath);
// The inverse for paths inside a drive folder ("C:\\..."); other host paths come back unchanged
// with '/' separators.
std::string ToWindowsPath(const std::filesystem::path& hostPath);

// Well-known folders of the machine, as Windows paths.
std::string ProgramDataFolder();   // "C:\\ProgramData"
std::string ProgramFilesX86();     // "C:\\Program Files (x86)"

// Makes `folder` (a host path) a folder that only the current user may enter: creates it with mode
// 0700 when absent, and refuses (false) a folder that is a symbolic link, not a folder, or owned by
// someone else. An existing folder of ours is narrowed to 0700.
bool MakePrivateFolder(const std::filesystem::path& folder);

}  // namespace plat
