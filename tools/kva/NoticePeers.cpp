#include "NoticePeers.h"

#include <chrono>

#include "IPCMessage/IPCMessageClient.h"
#include "IpcText.h"
#include "ipc/IpcIds.h"

namespace kva {

namespace {

tagIPC_MESSAGE_ITEM AnswerTo(const tagIPC_MESSAGE_ITEM& q, int from, int messageId, std::string& payload) {
    tagIPC_MESSAGE_ITEM a;
    a.nReceiverID = q.nSenderID;
    a.nSenderID = from;
    a.nMessageID = messageId;
    a.nReplyMessageID = 0;
    a.nSyncMessageId = q.nSyncMessageId;
    a.pszMessage = payload.empty() ? nullptr : payload.data();
    a.nMessageLen = static_cast<std::int32_t>(payload.size());
    return a;
}

}  // namespace

CNoticePeers::CNoticePeers(Print print) : m_print(std::move(print)) {}

CNoticePeers::~CNoticePeers() = default;

bool CNoticePeers::Start() {
    m_appManager = std::make_unique<CIPCMessageClient>(ipc_endpoint::kAppManager, true, false);
    m_settings = std::make_unique<CIPCMessageClient>(ipc_endpoint::kSettings, true, false);
    m_mainUi = std::make_unique<CIPCMessageClient>(ipc_endpoint::kMainUI, true, false);

    m_appManager->BindMessageCallback(ipc_msg::kShowDriverPopup, [this](tagIPC_MESSAGE_ITEM& q) {
        std::string answer;
        {
            std::lock_guard lock(m_mtx);
            answer = m_popupAnswer + std::string(1, '\0');
        }
        tagIPC_MESSAGE_ITEM a = AnswerTo(q, ipc_endpoint::kAppManager, ipc_msg::kAppMgAnswer, answer);
        a.nReceiverID = ipc_endpoint::kService;
        const bool ok = m_appManager->PostIPCMessage(a);
        m_print("appmgr    answered the driver pop-up with \"" + std::string(answer.c_str()) + "\"" +
                (ok ? "" : " (post failed)"));
    });
    m_appManager->BindMessageCallback(ipc_msg::kDriverStatus, [this](tagIPC_MESSAGE_ITEM& q) {
        std::string answer = m_driversInstalling ? "1" : "0";
        tagIPC_MESSAGE_ITEM a = AnswerTo(q, ipc_endpoint::kAppManager, q.nMessageID, answer);
        m_appManager->PostIPCMessage(a);
        m_print("appmgr    driver status asked by " + HexId(q.nSenderID) + ", answered \"" + answer + "\"");
    });
    m_settings->BindMessageCallback(ipc_msg::kSettingPopWindow, [this](tagIPC_MESSAGE_ITEM& q) {
        std::string answer(1, static_cast<char>(m_settingsAnswer.load()));
        tagIPC_MESSAGE_ITEM a = AnswerTo(q, ipc_endpoint::kSettings, ipc_msg::kSettingPopWindowAnswer, answer);
        a.nReceiverID = ipc_endpoint::kService;
        const bool ok = m_settings->PostIPCMessage(a);
        m_print("settings  asked to pop the update window, answered " + std::to_string(m_settingsAnswer.load()) +
                (ok ? "" : " (post failed)"));
    });
    m_mainUi->BindMessageCallback(ipc_msg::kMainUIAppUpdate, [this](tagIPC_MESSAGE_ITEM& q) {
        m_print("mainui    new application version notice (0xF0002) from " + HexId(q.nSenderID));
    });
    const auto wait = std::chrono::milliseconds(5000);
    return m_appManager->WaitForHub(wait) && m_settings->WaitForHub(wait) && m_mainUi->WaitForHub(wait);
}

bool CNoticePeers::Post(CIPCMessageClient& from, int messageId, const std::string& payload, std::string* error) {
    std::string bytes = payload;
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kService;
    item.nSenderID = from.EndpointId();
    item.nMessageID = messageId;
    item.pszMessage = bytes.empty() ? nullptr : bytes.data();
    item.nMessageLen = static_cast<std::int32_t>(bytes.size());
    if (!from.PostIPCMessage(item)) return (*error = "not posted: " + HexId(messageId), false);
    m_print(std::string(from.EndpointId() == ipc_endpoint::kSettings ? "settings" : "appmgr  ") + "  sent " +
            DescribeItem(item));
    return true;
}

bool CNoticePeers::RunAppMgr(const std::string& what, const std::string& rest, std::string* error) {
    if (what == "answer") {
        std::lock_guard lock(m_mtx);
        m_popupAnswer = rest;
        m_print("appmgr    will answer the driver pop-up with \"" + rest + "\"");
        return true;
    }
    if (what == "drvstatus") {
        if (rest != "0" && rest != "1") return (*error = "appmgr drvstatus 0|1", false);
        m_driversInstalling = rest == "1";
        return true;
    }
    if (what == "close") {
        std::uint32_t v = 1;
        if (!rest.empty()) v = static_cast<std::uint32_t>(std::strtoul(rest.c_str(), nullptr, 0));
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
        return Post(*m_appManager, ipc_msg::kAppMgCloseWin, bytes, error);
    }
    return (*error = "appmgr download|download2|cancel|status|answer|drvstatus|close ...", false);
}

bool CNoticePeers::RunSettings(std::istringstream& in, std::string* error) {
    std::string what, value;
    in >> what >> value;
    if (what == "answer" && (value == "0" || value == "1")) {
        m_settingsAnswer = value == "1" ? 1 : 0;
        return true;
    }
    if (what == "close") return Post(*m_settings, ipc_msg::kSettingCloseWin, std::string(1, '\1'), error);
    return (*error = "settings answer 0|1 | settings close", false);
}

}  // namespace kva
