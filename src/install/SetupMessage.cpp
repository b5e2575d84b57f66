#include "install/SetupMessage.h"

#include <nlohmann/json.hpp>

#include "Util/MemberList.h"

namespace {

using Json = nlohmann::ordered_json;

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

// The members whose JSON key is their name, in the order the message carries them; the process list
// has a form of its own.
template <class Visit>
void MessageMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, id, strCurVersion, strNextVersion, isInvolovedA, updatetype, file, timeout,
                        fileSize);
}

std::uint32_t ReadU32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(p[i]);
    return v;
}

}  // namespace

std::string _SETUP_DRIVER_MSG::ToJson() const {
    Json processes = Json::array();
    for (const auto& [name, description] : process_list) processes.push_back({{"name", name}, {"description", description}});
    Json j;
    MessageMembers([&](const char* key, auto member) { j[key] = member(*this); });
    j["process_list"] = std::move(processes);
    j["logdir_list"] = logdir_list;
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

_SETUP_DRIVER_MSG _SETUP_DRIVER_MSG::FromJson(const std::string& text) {
    _SETUP_DRIVER_MSG m;
    const Json j = Json::parse(text, nullptr, false);
    if (!j.is_object()) return m;
    MessageMembers([&](const char* key, auto member) { Take(j, key, member(m)); });
    Take(j, "logdir_list", m.logdir_list);
    auto list = j.find("process_list");
    if (list != j.end() && list->is_array()) {
        for (const auto& e : *list) {
            if (!e.is_object()) continue;
            std::string name, description;
            Take(e, "name", name);
            Take(e, "description", description);
            m.process_list.emplace_back(std::move(name), std::move(description));
        }
    }
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
