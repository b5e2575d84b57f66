// Lenient reading of the library's JSON bodies: a key that is present with a fitting type is
// assigned; anything else leaves the member at its default. Internal to the download library.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

namespace kvadl {

// With IntegerBools, a bool member also takes 0/non-zero integers (requests from the UI do that).
template <bool IntegerBools = false, typename T>
void Take(const nlohmann::json& obj, const char* key, T& out) {
    auto it = obj.find(key);
    if (it == obj.end()) return;
    if constexpr (std::is_same_v<T, std::string>) {
        if (it->is_string()) out = it->template get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (it->is_boolean()) out = it->template get<bool>();
        else if (IntegerBools && it->is_number_integer()) out = it->template get<std::int64_t>() != 0;
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        if (!it->is_array()) return;
        out.clear();
        for (const auto& e : *it)
            if (e.is_string()) out.push_back(e.template get<std::string>());
    } else {
        if (it->is_number_integer() || it->is_number_unsigned()) out = it->template get<T>();
    }
}

}  // namespace kvadl
