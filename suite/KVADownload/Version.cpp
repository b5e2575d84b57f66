#include "KVADownload/Version.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace {

// "1.02.3" -> {1, 2, 3}; nullopt for anything that is not dotted decimal numbers.
std::optional<std::vector<std::uint64_t>> Split(const std::string& v) {
    std::vector<std::uint64_t> parts;
    std::uint64_t cur = 0;
    std::size_t digits = 0;
    for (char c : v) {
        if (c >= '0' && c <= '9') {
            if (cur > (UINT64_MAX - 9) / 10) return std::nullopt;
            cur = cur * 10 + static_cast<std::uint64_t>(c - '0');
            ++digits;
        } else if (c == '.' && digits > 0) {
            parts.push_back(cur);
            cur = 0;
            digits = 0;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;
    parts.push_back(cur);
    return parts;
}

}  // namespace

int CompareVersion(const std::string& local, const std::string& offered) {
    const auto b = Split(offered);
    if (!b) return VERSION_INVALID;
    if (local.empty()) return VERSION_OFFERED_NEWER;
    const auto a = Split(local);
    if (!a) return VERSION_INVALID;
    const std::size_t n = std::max(a->size(), b->size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t x = i < a->size() ? (*a)[i] : 0;
        const std::uint64_t y = i < b->size() ? (*b)[i] : 0;
        if (x != y) return x < y ? VERSION_OFFERED_NEWER : VERSION_LOCAL_NEWER;
    }
    return VERSION_EQUAL;
}
