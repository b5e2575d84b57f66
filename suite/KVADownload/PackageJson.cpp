#include "JsonTake.h"
#include "KVADownload/PackageJson.h"

#include "kva/platform/Text.h"

namespace {

using nlohmann::json;
using kvadl::Take;

const json& Sub(const json& obj, const char* key) {
    static const json empty = json::object();
    auto it = obj.find(key);
    return it != obj.end() && it->is_object() ? *it : empty;
}

}  // namespace

json PackageToJson(const _TOBEUPDATE_DRIVER_INFO& p) {
    // Built member by member: a nested initializer list copies every value once more, and this runs
    // for every package of every check.
    json textByKey = json::object();
    for (const auto& [type, pairs] : p.policy.textByKey) {
        json& list = textByKey[type] = json::array();
        for (const auto& [name, desc] : pairs) list.push_back(json::array({name, desc}));
    }
    json out = json::object();
    out["strDriverID"] = p.strDriverID;
    out["strDriverName"] = p.strDriverName;
    out["strCurVersion"] = p.strCurVersion;
    out["auxValue"] = p.auxValue;
    out["strAux1"] = p.strAux1;
    json& version = out["versionInfo"] = json::object();
    version["strAux3"] = p.versionInfo.strAux3;
    version["strNextVersion"] = p.versionInfo.strNextVersion;
    version["strNextVersionID"] = p.versionInfo.strNextVersionID;
    version["strUrl"] = p.versionInfo.strUrl;
    version["strAux4"] = p.versionInfo.strAux4;
    version["strVersionType"] = p.versionInfo.strVersionType;
    version["FileSize"] = p.versionInfo.FileSize;
    json& policy = out["policy"] = json::object();
    policy["updateType"] = p.policy.updateType;
    policy["restartLevel1"] = p.policy.restartLevel1;
    policy["restartLevel2"] = p.policy.restartLevel2;
    policy["flagAux1"] = p.policy.flagAux1;
    policy["flagAux2"] = p.policy.flagAux2;
    policy["forceFlag"] = p.policy.forceFlag;
    policy["idleAllowed"] = p.policy.idleAllowed;
    policy["strAux5"] = p.policy.strAux5;
    policy["auxList2"] = p.policy.auxList2;
    policy["processList"] = p.policy.processList;
    policy["auxList3"] = p.policy.auxList3;
    policy["textByKey"] = std::move(textByKey);
    out["auxList"] = p.auxList;
    out["strAux2"] = p.strAux2;
    json& hash = out["hashInfo"] = json::object();
    hash["strAux6"] = p.hashInfo.strAux6;
    hash["auxSize"] = p.hashInfo.auxSize;
    hash["strHashAlgo"] = p.hashInfo.strHashAlgo;
    hash["strHash"] = p.hashInfo.strHash;
    out["isInvolovedA"] = p.isInvolovedA;
    return out;
}

bool PackageFromJson(const json& obj, _TOBEUPDATE_DRIVER_INFO& p) {
    if (!obj.is_object()) return false;
    Take(obj, "strDriverID", p.strDriverID);
    Take(obj, "strDriverName", p.strDriverName);
    Take(obj, "strCurVersion", p.strCurVersion);
    Take(obj, "auxValue", p.auxValue);
    Take(obj, "strAux1", p.strAux1);
    const json& v = Sub(obj, "versionInfo");
    Take(v, "strAux3", p.versionInfo.strAux3);
    Take(v, "strNextVersion", p.versionInfo.strNextVersion);
    Take(v, "strNextVersionID", p.versionInfo.strNextVersionID);
    Take(v, "strUrl", p.versionInfo.strUrl);
    Take(v, "strAux4", p.versionInfo.strAux4);
    Take(v, "strVersionType", p.versionInfo.strVersionType);
    Take(v, "FileSize", p.versionInfo.FileSize);
    const json& pol = Sub(obj, "policy");
    Take(pol, "updateType", p.policy.updateType);
    Take(pol, "restartLevel1", p.policy.restartLevel1);
    Take(pol, "restartLevel2", p.policy.restartLevel2);
    Take(pol, "flagAux1", p.policy.flagAux1);
    Take(pol, "flagAux2", p.policy.flagAux2);
    Take(pol, "forceFlag", p.policy.forceFlag);
    Take(pol, "idleAllowed", p.policy.idleAllowed);
    Take(pol, "strAux5", p.policy.strAux5);
    Take(pol, "auxList2", p.policy.auxList2);
    Take(pol, "processList", p.policy.processList);
    Take(pol, "auxList3", p.policy.auxList3);
    for (const auto& [type, list] : Sub(pol, "textByKey").items()) {
        if (!list.is_array()) continue;
        auto& pairs = p.policy.textByKey[type];
        for (const auto& e : list)
            if (e.is_array() && e.size() == 2 && e[0].is_string() && e[1].is_string())
                pairs.emplace_back(e[0].get<std::string>(), e[1].get<std::string>());
    }
    Take(obj, "auxList", p.auxList);
    Take(obj, "strAux2", p.strAux2);
    const json& h = Sub(obj, "hashInfo");
    Take(h, "strAux6", p.hashInfo.strAux6);
    Take(h, "auxSize", p.hashInfo.auxSize);
    Take(h, "strHashAlgo", p.hashInfo.strHashAlgo);
    Take(h, "strHash", p.hashInfo.strHash);
    Take(obj, "isInvolovedA", p.isInvolovedA);
    return true;
}

std::string PickDescription(const json& d, const std::string& language) {
    if (!d.is_object() || d.empty()) return {};
    auto text = [&](const std::string& key) -> const json* {
        for (const auto& [k, v] : d.items())
            if (plat::EqualsNoCase(k, key) && v.is_string()) return &v;
        return nullptr;
    };
    if (const json* t = text(language)) return t->get<std::string>();
    const std::string base = language.substr(0, language.find_first_of("-_"));
    for (const auto& [k, v] : d.items())
        if (v.is_string() && plat::EqualsNoCase(k.substr(0, k.find_first_of("-_")), base)) return v.get<std::string>();
    if (const json* t = text("en-US")) return t->get<std::string>();
    for (const auto& [k, v] : d.items())
        if (v.is_string()) return v.get<std::string>();
    return {};
}
