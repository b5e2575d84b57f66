#include "InstallerPeer.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "IPCMessage/IPCMessageClient.h"
#include "IpcText.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "Util/FileInfo.h"
#include "install/SetupMessage.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Text.h"

namespace kva {

namespace {

constexpr std::uint32_t kResultFailed = 1;
constexpr std::uint32_t kRebootRequired = 3010;

// The manifest a package's installer is; null when it cannot be read.
nlohmann::json ReadManifest(const std::string& windowsPath) {
    std::ifstream in(plat::ToHostPath(windowsPath));
    if (!in) return nullptr;
    std::stringstream text;
    text << in.rdbuf();
    auto j = nlohmann::json::parse(text.str(), nullptr, false);
    return j.is_object() ? j : nlohmann::json(nullptr);
}

bool SignatureOk(const std::string& windowsPath) {
    std::error_code ec;
    if (!std::filesystem::exists(plat::ToHostPath(windowsPath + ".sig"), ec)) return true;  // unsigned package
    return FileInfo::VerifyDigitalSignature(plat::FromUtf8(windowsPath), false);
}

}  // namespace

CInstallerPeer::CInstallerPeer(Print print) : CClientPeer(std::move(print), ipc_endpoint::kInstaller) {}

CInstallerPeer::~CInstallerPeer() {
    m_stop.Set();  // a late answer or a long install stops waiting
    CloseClient();
}

void CInstallerPeer::Bind(CIPCMessageClient& client) {
    client.BindMessageCallback(ipc_msg::kSetupDriver, [this](tagIPC_MESSAGE_ITEM& item) { OnSetup(item); });
    client.BindMessageCallback(ipc_msg::kSetupApplication, [this](tagIPC_MESSAGE_ITEM& item) { OnApplicationSetup(item); });
    client.BindMessageCallback(ipc_msg::kRestartRequest, [this](tagIPC_MESSAGE_ITEM& item) { OnRestart(item); });
}

bool CInstallerPeer::Run(const std::string& step, std::string* error) {
    std::istringstream in(step);
    std::string verb, how;
    in >> verb >> how;
    const char* usage =
        "installer answer normal|never|late <ms>|bytes <n>|fail <result> <exit code> | "
        "installer fail-package <id> <result> <exit code>";
    if (verb == "fail-package") {
        std::uint32_t result = 0, exitCode = 0;
        if (!(in >> result >> exitCode) || how.empty()) return (*error = usage, false);
        std::lock_guard lock(m_mtx);
        m_failing[how] = {result, exitCode};
        m_print("installer fails package " + how + " with result " + std::to_string(result) + ", exit code " +
                std::to_string(exitCode));
        return true;
    }
    if (verb != "answer") return (*error = usage, false);
    CAnswerMode mode;
    using EKind = CAnswerMode::EKind;
    if (how == "normal") {
        mode.kind = EKind::Normal;
    } else if (how == "never") {
        mode.kind = EKind::Never;
    } else if (how == "late" && (in >> mode.value)) {
        mode.kind = EKind::Late;
    } else if (how == "bytes" && (in >> mode.value) && mode.value <= 4096) {
        mode.kind = EKind::Bytes;
    } else if (how == "fail" && (in >> mode.value >> mode.exitCode)) {
        mode.kind = EKind::Fail;
    } else {
        return (*error = usage, false);
    }
    std::lock_guard lock(m_mtx);
    m_mode = mode;
    m_print("installer answers: " + step.substr(step.find(how)));
    return true;
}

void CInstallerPeer::Install(const std::string& id, const std::string& file, std::uint32_t* result,
                             std::uint32_t* exitCode) {
    *result = kResultFailed;
    *exitCode = 0;
    const nlohmann::json manifest = ReadManifest(file);
    if (manifest.is_null()) {
        KVA_LOG_ERROR("installer: no manifest at " << file);
        m_print("installer package " + id + ": no installer at " + file);
        return;
    }
    if (!SignatureOk(file)) {
        KVA_LOG_ERROR("installer: signature of " << file << " does not verify");
        m_print("installer package " + id + ": signature does not verify");
        return;
    }
    const auto seconds = manifest.value("seconds", 0u);
    if (seconds > 0 && !plat::Sleep(seconds * 1000u, &m_stop)) return;
    *exitCode = manifest.value("exitCode", 0u);
    *result = manifest.value("result", (*exitCode == 0 || *exitCode == kRebootRequired) ? 0u : kResultFailed);
    const std::string version = manifest.value("version", "");
    if (*result == 0 && !version.empty()) SetInstalledVersion(id, version, manifest.value("name", ""));
    KVA_LOG_WARN("installer: package " << id << " " << version << " result " << *result << " exit code " << *exitCode);
    m_print("installer package " + id + " " + version + ": result " + std::to_string(*result) + ", exit code " +
            std::to_string(*exitCode) + (manifest.value("restart", false) ? ", restart needed" : ""));
}

void CInstallerPeer::OnSetup(tagIPC_MESSAGE_ITEM& item) {
    const _SETUP_DRIVER_MSG request = _SETUP_DRIVER_MSG::FromJson(PayloadText(item));
    const std::string& id = request.id;
    const std::string& file = request.file;
    CAnswerMode mode;
    {
        std::lock_guard lock(m_mtx);
        mode = m_mode;
        if (auto f = m_failing.find(id); f != m_failing.end() && mode.kind == CAnswerMode::EKind::Normal) {
            mode.kind = CAnswerMode::EKind::Fail;
            mode.value = f->second.first;
            mode.exitCode = f->second.second;
        }
    }
    using EKind = CAnswerMode::EKind;
    std::uint32_t result = kResultFailed, exitCode = 0;
    if (mode.kind == EKind::Fail) {
        result = mode.value;
        exitCode = mode.exitCode;
        m_print("installer package " + id + ": failing as scripted");
    } else if (!IsSafePathPart(id)) {
        m_print("installer refused a request without a valid package id");
    } else {
        Install(id, file, &result, &exitCode);
    }
    switch (mode.kind) {
        case EKind::Never:
            m_print("installer package " + id + ": not answering");
            return;
        case EKind::Late:
            if (!plat::Sleep(mode.value, &m_stop)) return;
            break;
        case EKind::Bytes:
            Answer(item, std::string(mode.value, '\0'));
            return;
        default:
            break;
    }
    Answer(item, SetupAnswerBytes(result, exitCode));
}

void CInstallerPeer::Answer(const tagIPC_MESSAGE_ITEM& request, const std::string& bytes) {
    std::string payload = bytes;
    tagIPC_MESSAGE_ITEM reply;
    reply.nReceiverID = request.nSenderID;
    reply.nSenderID = ipc_endpoint::kInstaller;
    reply.nMessageID = request.nMessageID;
    reply.nReplyMessageID = -1;
    reply.nSyncMessageId = request.nSyncMessageId;
    reply.nMessageLen = static_cast<std::int32_t>(payload.size());
    reply.pszMessage = payload.empty() ? nullptr : payload.data();
    if (!m_client->PostIPCMessage(reply)) KVA_LOG_ERROR("installer: answer not sent");
}

void CInstallerPeer::OnApplicationSetup(tagIPC_MESSAGE_ITEM& item) {
    const std::string command = PayloadText(item);
    m_print("installer application setup: " + command);
    KVA_LOG_WARN("installer: application setup " << command);
    const std::string file = command.substr(0, command.find(" /"));
    const nlohmann::json manifest = ReadManifest(file);
    const std::string version = manifest.is_null() ? "" : manifest.value("version", "");
    if (version.empty()) {
        m_print("installer application setup: no manifest at " + file);
        return;
    }
    SetInstalledVersion("0", version, manifest.value("name", "Pilotdeck"));
    m_print("installer application is now " + version);
}

void CInstallerPeer::OnRestart(tagIPC_MESSAGE_ITEM& item) {
    const std::string what = PayloadText(item);
    if (what != "reboot" && what != "shutdown") {
        m_print("installer restart request not understood: " + what);
        return;
    }
    m_print("installer " + what + ": the machine restarts");
    plat::SimulateReboot();
}

}  // namespace kva
