#include <nlohmann/json.hpp>

#include "JsonTake.h"
#include "KVADownload/UpdateInfo.h"
#include "Util/MemberList.h"

using nlohmann::json;

namespace {

template <class Visit>
void ParamMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, strCurVersion, strUrl, strFilepath, strSN, strVersionType, strDriverID,
                        strDriverName, strNextVersionID, strNextVersion, strHashAlgo, strHash, FileSize, upateType,
                        Uid, restart, shutdown);
}

}  // namespace

download_param::download_param(const std::string& jsonText) {
    const json obj = json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
    if (!obj.is_object()) return;
    ParamMembers([&](const char* key, auto member) { kvadl::Take<true>(obj, key, member(*this)); });
}

std::string download_param::ToJson() const {
    json obj = json::object();
    ParamMembers([&](const char* key, auto member) { obj[key] = member(*this); });
    // Replacement instead of throwing on invalid UTF-8: a request with a bad name still serialises.
    return obj.dump(-1, ' ', false, json::error_handler_t::replace);
}
