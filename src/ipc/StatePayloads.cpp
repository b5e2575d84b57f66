#include "ipc/StatePayloads.h"

#include <nlohmann/json.hpp>

#include <cstring>

namespace state_payload {

std::string Text(const char* data, std::int32_t length) {
    if (!data || length <= 0) return {};
    return std::string(data, strnlen(data, static_cast<std::size_t>(length)));
}

std::optional<SysState> ReadSysState(const char* data, std::int32_t length) {
    if (!data || length <= 0) return std::nullopt;
    SysState s;
    const auto n = static_cast<std::size_t>(length);
    std::uint8_t word[4] = {0, 0, 0, 0};
    std::memcpy(word, data, std::min<std::size_t>(n, 4));
    s.scene = static_cast<std::uint32_t>(word[0]) | (static_cast<std::uint32_t>(word[1]) << 8) |
              (static_cast<std::uint32_t>(word[2]) << 16) | (static_cast<std::uint32_t>(word[3]) << 24);
    s.counts = n > kSysStateGuardOffset && data[kSysStateGuardOffset] == 0;
    return s;
}

AppMgAnswer ReadAppMgAnswer(std::string_view text) {
    std::vector<std::string> tokens;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find(';', start);
        const std::string_view token = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!token.empty()) tokens.emplace_back(token);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    AppMgAnswer a;
    if (tokens.empty()) return a;
    a.valid = true;
    a.show = tokens[0] != "0";
    for (std::size_t i = 1; i < tokens.size(); i += 2) {
        if (i + 1 >= tokens.size()) {
            a.danglingId = true;
            a.dangling = tokens[i];
            break;
        }
        a.ignored.emplace_back(tokens[i], tokens[i + 1]);
    }
    return a;
}

std::optional<std::uint32_t> ReadU32Exact(const char* data, std::int32_t length) {
    if (!data || length != 4) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::optional<std::uint8_t> ReadByteExact(const char* data, std::int32_t length) {
    if (!data || length != 1) return std::nullopt;
    return static_cast<std::uint8_t>(data[0]);
}

UIStatus ReadUIStatus(std::string_view text) {
    UIStatus s;
    const auto j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_object()) return s;
    if (auto it = j.find("strDriverID"); it != j.end() && it->is_string()) s.strDriverID = it->get<std::string>();
    if (auto it = j.find("complete"); it != j.end() && it->is_boolean()) s.complete = it->get<bool>();
    if (auto it = j.find("sourceType"); it != j.end() && it->is_number_integer()) s.sourceType = it->get<std::int64_t>();
    return s;
}

}  // namespace state_payload
