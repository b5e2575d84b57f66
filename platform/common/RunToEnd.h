// The part of RunProcess both backends share: start `path` (already resolved), collect its output
// lines and wait for its end within `realTimeout`.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace plat::detail {

int RunToEnd(const std::filesystem::path& path, const std::vector<std::string>& args, std::string* output,
             std::chrono::milliseconds realTimeout);

}  // namespace plat::detail
