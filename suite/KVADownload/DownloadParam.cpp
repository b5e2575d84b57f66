#include <nlohmann/json.hpp>

#include "KVADownload/UpdateInfo.h"

namespace {

using nlohmann::json;

// Assigns obj[key] to `out` when present and of a fitting type; anything else leaves the default.
template <typename T>
void Take(const json& obj, const char* key, T& out) {
    auto it = obj.find(key);
    if (it == obj.end()) return;
    if constexpr (std::is_same_v<T, std::string>) {
        if (it->is_string()) out = it->template get<std::string>();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (it->is_boolean()) out = it->template get<bool>();
        else if (it->is_number_integer()) out = it->template get<std::int64_t>() != 0;
    } else {
        if (it->is_number_integer() || it->is_number_unsigned()) out = it->template get<T>();
    }
}

}  // namespace

download_param::download_param(const std::string& jsonText) {
    const json obj = json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
    if (!obj.is_object()) return;
    Take(obj, "strCurVersion", strCurVersion);
    Take(obj, "strUrl", strUrl);
    Take(obj, "strFilepath", strFilepath);
    Take(obj, "strSN", strSN);
    Take(obj, "strVersionType", strVersionType);
    Take(obj, "strDriverID", strDriverID);
    Take(obj, "strDriverName", strDriverName);
    Take(obj, "strNextVersionID", strNextVersionID);
    Take(obj, "strNextVersion", strNextVersion);
    Take(obj, "strHashAlgo", strHashAlgo);
    Take(obj, "strHash", strHash);
    Take(obj, "FileSize", FileSize);
    Take(obj, "upateType", upateType);
    Take(obj, "Uid", Uid);
    Take(obj, "restart", restart);
    Take(obj, "shutdown", shutdown);
}

std::string download_param::ToJson() const {
    json obj = {
        {"strCurVersion", strCurVersion}, {"strUrl", strUrl},
        {"strFilepath", strFilepath},     {"strSN", strSN},
        {"strVersionType", strVersionType}, {"strDriverID", strDriverID},
        {"strDriverName", strDriverName}, {"strNextVersionID", strNextVersionID},
        {"strNextVersion", strNextVersion}, {"strHashAlgo", strHashAlgo},
        {"strHash", strHash},             {"FileSize", FileSize},
        {"upateType", upateType},         {"Uid", Uid},
        {"restart", restart},             {"shutdown", shutdown},
    };
    // Replacement instead of throwing on invalid UTF-8: a request with a bad name still serialises.
    return obj.dump(-1, ' ', false, json::error_handler_t::replace);
}
