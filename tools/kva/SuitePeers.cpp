#include "SuitePeers.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "IPCMessage/IPCMessageClient.h"
#include "InstallerPeer.h"
#include "IpcText.h"
#include "MainUIPeer.h"
#include "MsgCentrePeer.h"
#include "NoticePeers.h"
#include "ipc/IpcIds.h"

namespace kva {

namespace {

constexpr int kUpdater = ipc_endpoint::kService;
constexpr int kSynergy = ipc_endpoint::kSynergy;
constexpr int kAppManager = ipc_endpoint::kAppManager;
constexpr int kSynergyQuery = ipc_msg::kSynergyQuestion;
constexpr int kSysStateMessage = ipc_msg::kSystemState;
constexpr std::size_t kSysStateBytes = 32;
constexpr std::size_t kSysStateGuardByte = 28;

std::string Payload(const tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage || item.nMessageLen <= 0) return {};
    return std::string(item.pszMessage, strnlen(item.pszMessage, static_cast<std::size_t>(item.nMessageLen)));
}

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutString(std::string& out, const std::string& s) {
    PutU32(out, static_cast<std::uint32_t>(s.size()));
    out += s;
}

// The typed cancel request: format version 1, then the download report of the package.
std::string CancelRequest(const std::string& id) {
    std::string out;
    PutU32(out, 1);
    PutString(out, id);
    PutString(out, "");
    PutU32(out, 0);   // cbValue1
    PutU32(out, 0);   // errorCode
    out += '\0';      // cbValue2
    PutU32(out, 0);   // success
    return out;
}

// What is left of the line, without leading blanks.
std::string Rest(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    const auto start = rest.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : rest.substr(start);
}

}  // namespace

CSuitePeers::CSuitePeers(Print print) : m_print(std::move(print)) {}

CSuitePeers::~CSuitePeers() = default;

bool CSuitePeers::Start() {
    m_synergy = std::make_unique<CIPCMessageClient>(kSynergy, true, false);
    m_appManager = std::make_unique<CIPCMessageClient>(kAppManager, true, false);
    m_publisher = std::make_unique<CIPCMessageClient>(-1, false, false);

    m_synergy->BindMessageCallback(kSynergyQuery, [this](tagIPC_MESSAGE_ITEM& item) {
        const char* answer = m_synergyInUse ? "1" : "0";
        tagIPC_MESSAGE_ITEM reply;
        reply.nReceiverID = item.nSenderID;
        reply.nSenderID = kSynergy;
        reply.nMessageID = item.nReplyMessageID;
        reply.nReplyMessageID = 0;
        reply.nSyncMessageId = item.nSyncMessageId;
        reply.pszMessage = const_cast<char*>(answer);
        reply.nMessageLen = 1;
        const bool ok = m_synergy->PostIPCMessage(reply);
        m_print(std::string("synergy   asked by ") + HexId(item.nSenderID) + ", answered \"" + answer + "\"" +
                (ok ? "" : " (post failed)"));
    });
    auto record = [this](const char* what) {
        return [this, what](tagIPC_MESSAGE_ITEM& item) {
            m_print(std::string("appmgr    ") + what + " from " + HexId(item.nSenderID));
        };
    };
    m_appManager->BindMessageCallback(0x50004, record("show driver pop-up (0x50004)"));
    m_appManager->BindMessageCallback(0x50006, record("close driver pop-up (0x50006)"));
    for (int id : {0xF0009, 0xF000A}) {
        m_appManager->BindMessageCallback(id, [this](tagIPC_MESSAGE_ITEM& item) {
            m_print("appmgr    download reply " + HexId(item.nMessageID) + " sync " +
                    std::to_string(item.nSyncMessageId) + ": " + Payload(item));
        });
    }
    for (int id : {0x50013, 0x50014}) {
        m_appManager->BindMessageCallback(id, [this](tagIPC_MESSAGE_ITEM& item) {
            m_print("appmgr    install finished notice " + HexId(item.nMessageID) + ": " + Payload(item));
        });
    }
    m_appManager->BindMessageCallback(0xF000F, [this](tagIPC_MESSAGE_ITEM& item) {
        m_print("appmgr    install answer sync " + std::to_string(item.nSyncMessageId) + ": " +
                std::to_string(item.nMessageLen) + " bytes");
    });
    m_appManager->BindDefaultCallback([this](tagIPC_MESSAGE_ITEM& item) {
        m_print("appmgr    received " + DescribeItem(item));
    });
    m_msgCentre = std::make_unique<CMsgCentrePeer>(m_print);
    m_notices = std::make_unique<CNoticePeers>(m_print);
    const auto wait = std::chrono::milliseconds(5000);
    m_installer = std::make_unique<CInstallerPeer>(m_print);
    m_mainUI = std::make_unique<CMainUIPeer>(m_print);
    return m_synergy->WaitForHub(wait) && m_appManager->WaitForHub(wait) && m_installer->Start() && m_mainUI->Start() &&
           m_msgCentre->Start() && m_notices->Start();
}

bool CSuitePeers::Publish(int scene, int byte28, std::string* error) {
    std::string payload(kSysStateBytes, '\0');
    const auto word = static_cast<std::uint32_t>(scene);
    for (int i = 0; i < 4; ++i) payload[static_cast<std::size_t>(i)] = static_cast<char>((word >> (8 * i)) & 0xFF);
    payload[kSysStateGuardByte] = static_cast<char>(byte28);
    tagIPC_MESSAGE_ITEM item;
    item.nSenderID = -1;
    item.nMessageID = kSysStateMessage;
    item.pszMessage = payload.data();
    item.nMessageLen = static_cast<std::int32_t>(payload.size());
    if (!m_publisher->PublishIPCMessage(item)) return (*error = "system state not published", false);
    m_print("sysstate  published scene " + std::to_string(scene) + " byte28 " + std::to_string(byte28));
    return true;
}

bool CSuitePeers::SendToUpdater(int messageId, const std::string& payload, std::string* error) {
    std::string bytes = payload;
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = kUpdater;
    item.nSenderID = kAppManager;
    item.nMessageID = messageId;
    item.nReplyMessageID = 0;
    item.nSyncMessageId = m_sync++;
    item.pszMessage = bytes.empty() ? nullptr : bytes.data();
    item.nMessageLen = static_cast<std::int32_t>(bytes.size());
    if (!m_appManager->PostIPCMessage(item)) return (*error = "not posted: " + HexId(messageId), false);
    m_print("appmgr    sent " + DescribeItem(item));
    return true;
}

bool CSuitePeers::Run(const std::string& rawLine, std::string* error) {
    std::istringstream in(rawLine);
    std::string verb;
    if (!(in >> verb) || verb[0] == '#') return true;
    if (verb == "synergy") {
        std::string v;
        in >> v;
        if (v != "0" && v != "1") return (*error = "synergy takes 1 or 0", false);
        m_synergyInUse = v == "1";
        m_print("synergy   in use: " + v);
        return true;
    }
    if (verb == "scene") {
        std::string v, key;
        int byte28 = 0;
        in >> v;
        if (in >> key) {
            if (key != "byte28" || !(in >> byte28)) return (*error = "scene <free|busy|n> [byte28 <v>]", false);
        }
        int scene = 0;
        if (v == "free") scene = 1;
        else if (v == "busy") scene = 0;
        else {
            try {
                scene = std::stoi(v, nullptr, 0);
            } catch (...) {
                return (*error = "scene <free|busy|n> [byte28 <v>]", false);
            }
        }
        return Publish(scene, byte28, error);
    }
    if (verb == "appmgr") {
        std::string what;
        in >> what;
        const std::string rest = Rest(in);
        if (what == "download") return SendToUpdater(0xF0009, rest + std::string(1, '\0'), error);
        if (what == "download2") return SendToUpdater(0xF000A, rest + std::string(1, '\0'), error);
        if (what == "status") return SendToUpdater(0xF000C, rest + std::string(1, '\0'), error);
        if (what == "install") return SendToUpdater(0xF000F, rest + std::string(1, '\0'), error);
        if (what == "cancel") {
            if (rest.empty()) return (*error = "appmgr cancel <driver id>", false);
            return SendToUpdater(0xF000B, CancelRequest(rest), error);
        }
        return m_notices->RunAppMgr(what, rest, error);
    }
    if (verb == "installer") return m_installer->Run(Rest(in), error);
    if (verb == "mainui") return m_mainUI->Run(Rest(in), error);
    if (verb == "mc") return m_msgCentre->Run(in, error);
    if (verb == "settings") return m_notices->RunSettings(in, error);
    if (verb == "wait") {
        long ms = 0;
        if (!(in >> ms) || ms < 0) return (*error = "wait <ms>", false);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    if (verb == "echo") {
        m_print(Rest(in));
        return true;
    }
    return (*error = "unknown step: " + verb, false);
}

bool CSuitePeers::RunFile(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) return (*error = "cannot read " + path, false);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (!Run(line, error)) {
            *error = path + ":" + std::to_string(n) + ": " + *error;
            return false;
        }
    }
    return true;
}

}  // namespace kva
