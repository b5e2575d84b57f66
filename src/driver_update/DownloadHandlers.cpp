// Downloads the suite's UI asks for over IPC (0xF0009, 0xF000A) and their cancellation (0xF000B).
// Handlers run on the IPC library's threads.
#include <cstring>

#include <nlohmann/json.hpp>

#include "DuiLib/UIMainQueue.h"
#include "KVADownload/DriverDownloadManager.h"
#include "Util/CommonCfgMgr.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

// The payload as text up to its first zero byte: senders may count the terminator or not.
std::string PayloadText(const tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage || item.nMessageLen <= 0) return {};
    return std::string(item.pszMessage, strnlen(item.pszMessage, static_cast<std::size_t>(item.nMessageLen)));
}

}  // namespace

void CKVAServerQuery::OnRecvDriverDownLoadMsg(tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage) {
        KVA_LOG_ERROR("pszMsg is null");
        return;
    }
    const download_param request(PayloadText(item));
    auto* mgr = CDriverDownloadManager::GetInstance();
    std::string path = mgr->GetInstallFilePath(request);
    bool result = true;
    bool refused = false;
    const bool forced = request.upateType == DRIVER_UPDATE_FORCE;
    if (forced) {
        const bool cfgForce = CCommonCfgMgr::getInstance().EnableForceUpdate();
        const bool userForce = IsUserSetForceUpdate();
        ReportEvent(evt::kForcedGate, cfgForce, userForce);
        std::lock_guard lock(m_mtxTables);
        if (!cfgForce || !userForce) {
            m_mapForceDriver.clear();
            result = false;
            refused = true;
        } else {
            enmUPGRADE_DRIVER_INFO& entry = m_mapForceDriver[request.strDriverID];
            entry.restartLevel1 = request.restart;
            entry.restartLevel2 = request.shutdown;
            entry.FileSize = request.FileSize;
            entry.strDriverName = request.strDriverName;
            entry.strNextVersion = request.strNextVersion;
            entry.strNextVersionID = request.strNextVersionID;
            entry.strUrl = request.strUrl;
            entry.hashInfo.strHash = request.strHash;
            entry.hashInfo.strHashAlgo = request.strHashAlgo;
            entry.restartLevel3 = request.strDriverID == kDriverTypeBios;
            if (!path.empty()) {
                entry.strInstallFile = path;
                entry.state = PACKAGE_DOWNLOADED;
            }
        }
    }
    if (!refused && path.empty()) {
        mgr->Init(request);
        if (forced) {
            BindDriverCallbacks(request.strDriverID, DRIVER_UPDATE_FORCE);
        } else {
            mgr->FuncBind(request.strDriverID, request.upateType, {}, {}, {}, {}, {});
        }
        result = mgr->BeginDownload(request.strDriverID, request.upateType);
    }
    if (forced) PublishPackageTables();
    const std::string body = nlohmann::json{{"strpath", path}, {"result", result}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
    // The terminating zero travels too: the UI reads the body as a C string.
    if (!PostReply(item, body.c_str(), static_cast<int>(body.size()) + 1)) {
        KVA_LOG_ERROR("post start download msg to UI failed");
    }
}

void CKVAServerQuery::OnRecvCancelDownload(const strDRIVER_DOWNLOAD_CB_PARAM& param) {
    // The download library takes cancellations on the UI thread.
    DuiLib::UIMainQueue::getInstance()->dispatch(
        [id = param.strDriverID] { CDriverDownloadManager::GetInstance()->CancelDownload(id, 1); });
}
