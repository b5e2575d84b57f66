// Disk questions about a folder that may not exist yet (a download folder about to be made) are
// asked of its nearest existing ancestor.
#pragma once

#include <filesystem>
#include <system_error>

namespace plat::folders {

// `p` itself when it exists, else its nearest existing ancestor; the root when none exists below
// it, empty for an empty path.
inline std::filesystem::path NearestExistingFolder(std::filesystem::path p) {
    std::error_code ec;
    while (!p.empty() && !std::filesystem::exists(p, ec) && p != p.parent_path()) p = p.parent_path();
    return p;
}

}  // namespace plat::folders
