// Setup requests for one driver or firmware package: built from the package's stored
// description, sent to the installer (0x30000) and waited for up to 20 minutes.
#include "KVADownload/Folders.h"
#include "KVADownload/InstallAdapter.h"
#include "Util/DE.h"
#include "Util/SystemInfo.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "install/SetupMessage.h"
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {
constexpr std::uint32_t kNoValidAnswer = 0xFFFFFFFF;
}  // namespace

void CKVAServerQuery::GetMonitorProcessMsg(_TOBEUPDATE_DRIVER_INFO& info, std::string installFile, std::string id,
                                           int updateType, std::string& text) {
    text.clear();
    CDetectedFolderMgr folder(id, 1);
    const std::string language = DE::UnicodeToUTF8(SystemInfo::GetUserLanguage());
    if (folder.ReadDrvInfo(language, info) == 0) {
        KVA_LOG_ERROR("failed to get version info from detected folder.");
        return;
    }
    _SETUP_DRIVER_MSG msg;
    const auto texts = info.policy.textByKey.find(SystemEnvironment::GetDeviceTypeEx());
    if (texts != info.policy.textByKey.end()) {
        for (const auto& [name, description] : texts->second) {
            if (!name.empty() && !description.empty()) msg.process_list.emplace_back(name, description);
        }
    }
    msg.id = id;
    msg.strCurVersion = info.strCurVersion;
    msg.strNextVersion = info.versionInfo.strNextVersion;
    msg.isInvolovedA = info.isInvolovedA ? 1 : 0;
    msg.updatetype = updateType;
    msg.file = std::move(installFile);
    msg.timeout = static_cast<std::int32_t>(kSetupTimeoutMs);
    msg.logdir_list = std::move(info.policy.processList);
    text = msg.ToJson();
}

std::uint32_t CKVAServerQuery::PostSetupDriverMsg(std::string id, const std::string& installFile,
                                                  std::int32_t& exitCode, int updateType) {
    _TOBEUPDATE_DRIVER_INFO info;
    std::string text;
    GetMonitorProcessMsg(info, installFile, id, updateType, text);
    if (text.empty()) {
        KVA_LOG_ERROR("PostSetupDriverMsg: get invalid message");
        return kNoValidAnswer;
    }
    tagIPC_MESSAGE_ITEM request =
        MakeSetupDriverItem(ipc_endpoint::kAppManager, static_cast<std::int32_t>(plat::GetTickCount()), text);
    tagIPC_MESSAGE_ITEM answer;
    CInstallAdapter adapter(&m_ipcClient, updateType);
    if (!adapter.SendSetupIPCMessage(request, answer, kSetupTimeoutMs)) {
        KVA_LOG_ERROR("Send IPC Message ERROR");
        ReportEvent(evt::kSetupRequestFailed, "SetUpDriver:PostSetupDriverMsg," + id, request.nSyncMessageId);
        return kNoValidAnswer;
    }
    const CSetupAnswer a = ReadSetupAnswer(answer);
    if (a.kind == CSetupAnswer::EKind::Valid) {
        exitCode = static_cast<std::int32_t>(a.exitCode);
        if (a.result == 0) {
            InsertToFinishUpdateDB(static_cast<std::int64_t>(info.versionInfo.FileSize), info.strDriverID,
                                   info.versionInfo.strAux3, info.versionInfo.strNextVersion);
        }
        return a.result;
    }
    const char* why = a.kind == CSetupAnswer::EKind::NoData ? "SetUpDriver:PostSetupDriverMsg invalidmsg:NULL,"
                                                            : "SetUpDriver:PostSetupDriverMsg invalidmsg:length,";
    ReportEvent(evt::kSetupRequestFailed, why + id, request.nSyncMessageId);
    KVA_LOG_ERROR("PostSetupDriverMsg received invalid check force update msg");
    return kNoValidAnswer;
}
