#include "install/SetupMessage.h"

#include <nlohmann/json.hpp>

#include "Util/MemberList.h"

namespace {

using Json = nlohmann::ordered_json;

using ProcessList = std::vector<std::pair<std::string, std::string>>;
using M = _SETUP_DRIVER_MSG;

// The members in the order the message carries them; each one's JSON key is its name.
template <class Visit>
void MessageMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, id, strCurVersion, strNextVersion, isInvolovedA, updatetype, file, timeout,
                        fileSize, process_list, logdir_list);
}

template <class T>
const T& ToValue(const T& value) {
    return value;
}

// The process list travels as objects: [{"name": ..., "description": ...}].
Json ToValue(const ProcessList& processes) {
    Json list = Json::array();
    for (const auto& [name, description] : processes)
        list.push_back({{"name", name}, {"description", description}});
    return list;
}

template <class T>
void Take(const Json& j, const char* key, T& out) {
    auto it = j.find(key);
    if (it == j.end()) return;
    try {
        out = it->template get<T>();
    } catch (const Json::exception&) {
        // a key of another type keeps its default
    }
}

// Entries that are not objects are passed over.
void Take(const Json& j, const char* key, ProcessList& out) {
    auto list = j.find(key);
    if (list == j.end() || !list->is_array()) return;
    for (const auto& e : *list) {
        if (!e.is_object()) continue;
        std::string name, description;
        Take(e, "name", name);
        Take(e, "description", description);
        out.emplace_back(std::move(name), std::move(description));
    }
}

std::uint32_t ReadU32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(p[i]);
    return v;
}

}  // namespace

std::string _SETUP_DRIVER_MSG::ToJson() const {
    Json j = Json::object();
    MessageMembers([&](const char* key, auto member) { j[key] = ToValue(member(*this)); });
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

_SETUP_DRIVER_MSG _SETUP_DRIVER_MSG::FromJson(const std::string& text) {
    _SETUP_DRIVER_MSG m;
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object()) return m;
    MessageMembers([&](const char* key, auto member) { Take(j, key, member(m)); });
    return m;
}

CSetupAnswer ReadSetupAnswer(const tagIPC_MESSAGE_ITEM& answer) {
    CSetupAnswer a;
    if (answer.nMessageLen != 8) return a;
    if (!answer.pszMessage) {
        a.kind = CSetupAnswer::EKind::NoData;
        return a;
    }
    a.kind = CSetupAnswer::EKind::Valid;
    a.result = ReadU32(answer.pszMessage);
    a.exitCode = ReadU32(answer.pszMessage + 4);
    return a;
}

std::string SetupAnswerBytes(std::uint32_t result, std::uint32_t exitCode) {
    std::string out(8, '\0');
    for (int i = 0; i < 4; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>((result >> (8 * i)) & 0xFF);
        out[static_cast<std::size_t>(4 + i)] = static_cast<char>((exitCode >> (8 * i)) & 0xFF);
    }
    return out;
}

std::string FinishNoticeJson(const std::string& id) {
    Json j;
    j["strDriverID"] = id;
    j["complete"] = false;
    j["sourceType"] = 1;
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}
