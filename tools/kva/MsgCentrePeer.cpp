#include "MsgCentrePeer.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <thread>
#include <algorithm>

#include "DuiLib/UIAutomation.h"
#include "IPCMessage/IPCMessageClient.h"
#include "IpcText.h"
#include "KVATipsSDK/TipsWire.h"
#include "ipc/IpcIds.h"
#include "ipc/MsgCenterRequest.h"
#include "kva/platform/Text.h"

namespace kva {

namespace wire = vtr::tips_sdk::wire;

namespace {

constexpr auto kDefaultWait = std::chrono::milliseconds(10000);

std::string Rest(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    const auto start = rest.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : rest.substr(start);
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

CMsgCentrePeer::CMsgCentrePeer(Print print) : CClientPeer(std::move(print), ipc_endpoint::kMessageCentre) {}

// The client goes first: its threads run the callbacks, which use this peer's members.
CMsgCentrePeer::~CMsgCentrePeer() { CloseClient(); }

void CMsgCentrePeer::Bind(CIPCMessageClient& client) {
    client.BindMessageCallback(ipc_msg::kMsgCenterRequest, [this](tagIPC_MESSAGE_ITEM& item) {
        OnRequest(item.pszMessage, item.pszMessage ? static_cast<std::size_t>(std::max(item.nMessageLen, 0)) : 0,
                  item.nSenderID);
    });
    client.BindMessageCallback(wire::kShowTip, [this](tagIPC_MESSAGE_ITEM& item) {
        OnTip(PayloadText(item), item.nSenderID, false);
    });
    client.BindMessageCallback(wire::kCloseTip, [this](tagIPC_MESSAGE_ITEM& item) {
        OnTip(PayloadText(item), item.nSenderID, true);
    });
    client.BindDefaultCallback([this](tagIPC_MESSAGE_ITEM& item) { m_print("msgcentre received " + DescribeItem(item)); });
}

void CMsgCentrePeer::OnRequest(const char* data, std::size_t length, int sender) {
    auto req = CMsgCenterRequest::Parse(data, length);
    if (!req) {
        m_print("msgcentre request from " + HexId(sender) + " is not a message-centre request (" +
                std::to_string(length) + " bytes)");
        return;
    }
    m_print("msgcentre request from " + HexId(sender) + ": kind " + std::to_string(req->kind) + ", owner " +
            std::to_string(req->firstOwnerId) + ", second owner " + std::to_string(req->secondOwnerId) +
            ", shown " + std::to_string(req->displayTimeMs) + " ms, text " + Quote(req->text) +
            (req->HasKindValue() ? ", value " + std::to_string(req->kindValue) : std::string()) + " (" +
            std::to_string(length) + " bytes)");
}

void CMsgCentrePeer::OnTip(const std::string& text, int sender, bool closing) {
    const auto j = nlohmann::json::parse(text, nullptr, false);
    if (!j.is_object() || !j.contains("id") || !j["id"].is_number_integer()) {
        m_print("msgcentre tip from " + HexId(sender) + " does not parse: " + Quote(text));
        return;
    }
    const int id = j["id"].get<int>();
    std::lock_guard lock(m_mtx);
    if (closing) {
        m_tips.erase(id);
        m_print("msgcentre tip " + std::to_string(id) + " closed");
        return;
    }
    Tip& tip = m_tips[id];
    tip.sender = sender;
    tip.title = j.value("title", "");
    tip.content = j.value("content", "");
    tip.button = j.value("button", "");
    const bool update = j.value("update", false);
    std::string line = "msgcentre tip " + std::to_string(id) + (update ? " updated" : " shown") + " (kind " +
                       std::to_string(j.value("kind", 0)) + "): " + Quote(tip.title) + " " + Quote(tip.content);
    if (!tip.button.empty()) line += " button " + Quote(tip.button);
    if (j.value("kind", 0) == 2) line += " progress " + std::to_string(j.value("process", 0));
    if (j.contains("closeOptions") && j["closeOptions"].is_array()) {
        int n = 0;
        for (const auto& o : j["closeOptions"]) {
            if (o.is_string()) line += " option " + std::to_string(n++) + " " + Quote(o.get<std::string>());
        }
    }
    if (j.contains("items") && j["items"].is_array()) {
        for (const auto& item : j["items"]) {
            if (item.is_object()) line += " item " + Quote(item.value("name", ""));
        }
    }
    m_print(line);
    if (!update) {
        m_latestTip = id;
        ++m_tipsShown;
        m_cv.notify_all();
    }
}

bool CMsgCentrePeer::Answer(int tipId, int event, const std::string& text, std::string* error) {
    int sender = 0;
    {
        std::lock_guard lock(m_mtx);
        if (tipId == 0) tipId = m_latestTip;
        auto it = m_tips.find(tipId);
        if (it == m_tips.end()) return (*error = "no open tip " + std::to_string(tipId), false);
        sender = it->second.sender;
    }
    std::string body = nlohmann::json{{"id", tipId}, {"event", event}, {"text", text}}.dump();
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = sender;
    item.nSenderID = ipc_endpoint::kMessageCentre;
    item.nMessageID = wire::kTipReply;
    item.pszMessage = body.data();
    item.nMessageLen = static_cast<std::int32_t>(body.size() + 1);
    if (!m_client->PostIPCMessage(item)) return (*error = "answer not posted", false);
    m_print("msgcentre answered tip " + std::to_string(tipId) + " with event " + std::to_string(event) +
            (text.empty() ? std::string() : " " + Quote(text)));
    return true;
}

bool CMsgCentrePeer::RunWindowStep(const std::string& what, std::istringstream& in, std::string* error) {
    std::string cls;
    if (!(in >> cls)) return (*error = "mc " + what + " <window-class> ...", false);
    const std::wstring wcls = plat::FromUtf8(cls);
    if (what == "wait-window") {
        long ms = kDefaultWait.count();
        in >> ms;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!DuiLib::CUIAutomation::FindWindow(wcls)) {
            if (std::chrono::steady_clock::now() > end) return (*error = "no window of class " + cls, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_print("msgcentre window " + cls + " is there");
        return true;
    }
    const plat::HWND hwnd = DuiLib::CUIAutomation::FindWindow(wcls);
    if (!hwnd) return (*error = "no window of class " + cls, false);
    if (what == "show") {
        std::string line = "msgcentre window " + cls + (plat::IsWindowShown(hwnd) ? " (shown)" : " (hidden)");
        for (const auto& c : DuiLib::CUIAutomation::Controls(hwnd)) {
            line += " " + c.name + (c.visible ? "=" : "(hidden)=") + Quote(plat::ToUtf8(c.text));
        }
        m_print(line);
        return true;
    }
    std::string target;
    if (what == "click" || what == "menu" || what == "expect") {
        if (!(in >> target)) return (*error = "mc " + what + " <window-class> <name>", false);
    }
    if (what == "click") {
        if (!DuiLib::CUIAutomation::Click(hwnd, target)) return (*error = "cannot click " + target + " of " + cls, false);
        m_print("msgcentre clicked " + target + " of " + cls);
        return true;
    }
    if (what == "menu") {
        if (!DuiLib::CUIAutomation::ChooseMenuItem(hwnd, target)) {
            return (*error = "cannot choose " + target + " in the menu of " + cls, false);
        }
        m_print("msgcentre chose " + target + " in the menu of " + cls);
        return true;
    }
    if (what == "expect") {
        const std::string want = Rest(in);
        const auto got = DuiLib::CUIAutomation::GetControlText(hwnd, target);
        if (!got || plat::ToUtf8(*got) != want) {
            return (*error = target + " of " + cls + " shows " + (got ? Quote(plat::ToUtf8(*got)) : "nothing"), false);
        }
        return true;
    }
    if (what == "message") {
        std::uint32_t msg = 0;
        std::int64_t w = 0, l = 0;
        if (!(in >> msg)) return (*error = "mc message <window-class> <msg> [w] [l]", false);
        in >> w >> l;
        const auto result = DuiLib::CUIAutomation::SendWindowMessage(hwnd, msg, w, l);
        if (!result) return (*error = "the window did not take the message", false);
        m_print("msgcentre message " + std::to_string(msg) + " to " + cls + " returned " + std::to_string(*result));
        return true;
    }
    return (*error = "unknown mc step: " + what, false);
}

bool CMsgCentrePeer::RunTipStep(const std::string& what, std::istringstream& in, std::string* error) {
    if (what == "button") {
        int id = 0;
        in >> id;
        return Answer(id, wire::kEventButton, "", error);
    }
    if (what == "option") {
        int index = -1, id = 0;
        if (!(in >> index) || index < 0) return (*error = "mc option <index> [tip-id]", false);
        in >> id;
        return Answer(id, wire::kEventCloseOption, std::to_string(index), error);
    }
    // wait-tip
    long ms = kDefaultWait.count();
    in >> ms;
    std::unique_lock lock(m_mtx);
    if (!m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_tipsShown > m_tipsWaited; })) {
        return (*error = "no tip shown", false);
    }
    ++m_tipsWaited;
    return true;
}

bool CMsgCentrePeer::Run(std::istringstream& in, std::string* error) {
    std::string what;
    if (!(in >> what)) return (*error = "mc show|click|menu|message|button|option|wait-window|wait-tip|expect", false);
    if (what == "button" || what == "option" || what == "wait-tip") return RunTipStep(what, in, error);
    return RunWindowStep(what, in, error);
}

}  // namespace kva
