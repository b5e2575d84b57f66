#include "TextFile.h"

#include <fstream>
#include <iterator>

namespace kvatest {

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFolder(const std::filesystem::path& folder) {
    std::string all;
    std::error_code ec;
    for (const auto& f : std::filesystem::directory_iterator(folder, ec)) all += ReadAll(f.path());
    return all;
}

std::string Quote(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

}  // namespace kvatest
