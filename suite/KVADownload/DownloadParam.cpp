#include <nlohmann/json.hpp>

#include "JsonTake.h"
#include "KVADownload/UpdateInfo.h"

using nlohmann::json;

download_param::download_param(const std::string& jsonText) {
    const json obj = json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
    if (!obj.is_object()) return;
    kvadl::Take<true>(obj, "strCurVersion", strCurVersion);
    kvadl::Take<true>(obj, "strUrl", strUrl);
    kvadl::Take<true>(obj, "strFilepath", strFilepath);
    kvadl::Take<true>(obj, "strSN", strSN);
    kvadl::Take<true>(obj, "strVersionType", strVersionType);
    kvadl::Take<true>(obj, "strDriverID", strDriverID);
    kvadl::Take<true>(obj, "strDriverName", strDriverName);
    kvadl::Take<true>(obj, "strNextVersionID", strNextVersionID);
    kvadl::Take<true>(obj, "strNextVersion", strNextVersion);
    kvadl::Take<true>(obj, "strHashAlgo", strHashAlgo);
    kvadl::Take<true>(obj, "strHash", strHash);
    kvadl::Take<true>(obj, "FileSize", FileSize);
    kvadl::Take<true>(obj, "upateType", upateType);
    kvadl::Take<true>(obj, "Uid", Uid);
    kvadl::Take<true>(obj, "restart", restart);
    kvadl::Take<true>(obj, "shutdown", shutdown);
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
