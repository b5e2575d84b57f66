// Whole files as text and paths quoted for `sh -c`: the tests and the soak run drive the tools
// through a shell and read what they leave behind. No test framework here, so bench/ links it too.
#pragma once

#include <filesystem>
#include <string>

namespace kvatest {

// The file's bytes; "" when it cannot be read.
std::string ReadAll(const std::filesystem::path& file);

// Every file directly in `folder`, one after the other (a machine's logs); "" without the folder.
std::string ReadFolder(const std::filesystem::path& folder);

// `path` in single quotes (the temporary paths used here hold none).
std::string Quote(const std::filesystem::path& path);

}  // namespace kvatest
