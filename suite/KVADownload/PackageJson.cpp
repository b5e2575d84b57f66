#include "JsonTake.h"
#include "KVADownload/PackageJson.h"

#include <functional>
#include <type_traits>

#include "Util/MemberList.h"
#include "kva/platform/Text.h"

namespace {

using nlohmann::json;
using kvadl::Take;

const json& Sub(const json& obj, const char* key) {
    static const json empty = json::object();
    auto it = obj.find(key);
    return it != obj.end() && it->is_object() ? *it : empty;
}

// The members whose JSON key is their name, one list per nested record; textByKey has a form of
// its own.
template <class Visit>
void PackageMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, strDriverID, strDriverName, strCurVersion, auxValue, strAux1, auxList, strAux2,
                        isInvolovedA);
}
template <class Visit>
void VersionMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, strAux3, strNextVersion, strNextVersionID, strUrl, strAux4, strVersionType,
                        FileSize);
}
template <class Visit>
void PolicyMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, updateType, restartLevel1, restartLevel2, flagAux1, flagAux2, forceFlag,
                        idleAllowed, strAux5, auxList2, processList, auxList3);
}
template <class Visit>
void HashMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, strAux6, auxSize, strHashAlgo, strHash);
}

template <class Record>
auto WriteInto(json& into, const Record& from) {
    return [&into, &from](const char* key, auto member) { into[key] = member(from); };
}
template <class Record>
auto ReadFrom(const json& from, Record& into) {
    return [&from, &into](const char* key, auto member) { Take(from, key, member(into)); };
}

class CDigest {
public:
    void Mix(std::size_t h) { m_value ^= h + 0x9e3779b97f4a7c15ULL + (m_value << 6) + (m_value >> 2); }
    void Add(const std::string& s) {
        Mix(s.size());
        Mix(std::hash<std::string>{}(s));
    }
    template <class N>
        requires std::is_arithmetic_v<N>
    void Add(N n) {
        Mix(std::hash<N>{}(n));
    }
    void Add(const std::vector<std::string>& list) {
        Mix(list.size());
        for (const auto& s : list) Add(s);
    }
    std::size_t Value() const { return m_value; }

private:
    std::size_t m_value = 0;
};

template <class Record>
auto DigestOf(CDigest& digest, const Record& from) {
    return [&digest, &from](const char*, auto member) { digest.Add(member(from)); };
}

}  // namespace

std::size_t PackageDigest(const _TOBEUPDATE_DRIVER_INFO& p) {
    CDigest d;
    PackageMembers(DigestOf(d, p));
    VersionMembers(DigestOf(d, p.versionInfo));
    PolicyMembers(DigestOf(d, p.policy));
    d.Mix(p.policy.textByKey.size());
    for (const auto& [type, pairs] : p.policy.textByKey) {
        d.Add(type);
        d.Mix(pairs.size());
        for (const auto& [name, desc] : pairs) {
            d.Add(name);
            d.Add(desc);
        }
    }
    HashMembers(DigestOf(d, p.hashInfo));
    return d.Value();
}

json PackageToJson(const _TOBEUPDATE_DRIVER_INFO& p) {
    // Built member by member: a nested initializer list copies every value once more, and this runs
    // for every package of every check.
    json textByKey = json::object();
    for (const auto& [type, pairs] : p.policy.textByKey) {
        json& list = textByKey[type] = json::array();
        for (const auto& [name, desc] : pairs) list.push_back(json::array({name, desc}));
    }
    json out = json::object();
    PackageMembers(WriteInto(out, p));
    VersionMembers(WriteInto(out["versionInfo"] = json::object(), p.versionInfo));
    json& policy = out["policy"] = json::object();
    PolicyMembers(WriteInto(policy, p.policy));
    policy["textByKey"] = std::move(textByKey);
    HashMembers(WriteInto(out["hashInfo"] = json::object(), p.hashInfo));
    return out;
}

bool PackageFromJson(const json& obj, _TOBEUPDATE_DRIVER_INFO& p) {
    if (!obj.is_object()) return false;
    PackageMembers(ReadFrom(obj, p));
    VersionMembers(ReadFrom(Sub(obj, "versionInfo"), p.versionInfo));
    const json& pol = Sub(obj, "policy");
    PolicyMembers(ReadFrom(pol, p.policy));
    for (const auto& [type, list] : Sub(pol, "textByKey").items()) {
        if (!list.is_array()) continue;
        auto& pairs = p.policy.textByKey[type];
        for (const auto& e : list)
            if (e.is_array() && e.size() == 2 && e[0].is_string() && e[1].is_string())
                pairs.emplace_back(e[0].get<std::string>(), e[1].get<std::string>());
    }
    HashMembers(ReadFrom(Sub(obj, "hashInfo"), p.hashInfo));
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
