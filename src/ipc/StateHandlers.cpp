// Window and system-state coordination with the suite's UI, settings, synergy and message centre.
// Every handler runs on an IPC thread; a payload that is not what the message carries is logged
// and changes nothing.
#include <cstring>
#include <optional>

#include "DuiLib/UIMainQueue.h"
#include "KVADownload/Folders.h"
#include "Util/DE.h"
#include "Util/KVASoftShelf.h"
#include "install/DataEventIds.h"
#include "install/DataEvents.h"
#include "ipc/IpcIds.h"
#include "ipc/MsgCenterRequest.h"
#include "ipc/StatePayloads.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "self_update/KVAAppUpdataXML.h"
#include "self_update/KVASelfUpdateXML.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr std::uint32_t kSynergyWaitMs = 10000;
constexpr std::uint32_t kMsgCenterDisplayMs = 21600000;  // 6 hours
// The application-manager notice shown again after the user's answer (data event 5006).
constexpr int kNoticeFromAppManager = 2;
constexpr int kNoticeFromSettings = 4;
constexpr int kFromSysStateIdle = 5;  // "5": the idle road, in event 3011

// The fields a table entry shares with the package description it came from.
_TOBEUPDATE_DRIVER_INFO ToPackage(const std::string& id, const enmUPGRADE_DRIVER_INFO& e) {
    _TOBEUPDATE_DRIVER_INFO p = PackageFromRecord(id, e);
    p.policy.restartLevel1 = e.restartLevel1;
    p.policy.restartLevel2 = e.restartLevel2;
    p.hashInfo = e.hashInfo;
    p.isInvolovedA = e.isInvolovedA;
    return p;
}

// "%Y-%m-%d %H:%M" of now.
std::string IgnoreTime() { return DE::FormatDateTime(DE::Now()).substr(0, 16); }

}  // namespace

void CKVAServerQuery::OnRecvSysState(tagIPC_MESSAGE_ITEM& item) {
    const auto state = state_payload::ReadSysState(item.pszMessage, item.nMessageLen);
    if (!state) {
        KVA_LOG_ERROR("stMessage.nMessageLen==0 or pszMessage is null");
        return;
    }
    if (item.nMessageID != ipc_msg::kSystemState || !state->counts) return;
    // The tables view shows the flags: written again whenever one changes.
    if (state->scene != state_payload::kSceneFree) {
        if (m_IsFreeScene.exchange(false)) PublishPackageTables();
        KVA_LOG_WARN("receive not free scene msg");
        return;
    }
    if (!m_IsFreeScene.exchange(true)) PublishPackageTables();
    KVA_LOG_WARN("receive free scene msg");
    if (!CKVASoftShelf::GetInstance()->IsSupportPlugin("MsgPop")) {
        KVA_LOG_WARN("USA not support popup and idle driver update");
        return;
    }
    ReportEvent(evt::kFreeScene);
    RunStateWork([this] { RestartIdleDownloads(); });
}

void CKVAServerQuery::RestartIdleDownloads() {
    if (IsAgreeSilentUpdate()) {
        ContinueDownLoad();
    } else {
        ReportEvent(evt::kAppUpdateError, std::to_string(kFromSysStateIdle),
                    UpdaterManager::UPDATER_TRACK_CONTINUE_APP_DOWNLOAD, UpdaterManager::UPDATER_ERROR_NOT_AGREED);
    }
    std::vector<_TOBEUPDATE_DRIVER_INFO> again;
    {
        std::lock_guard lock(m_mtxTables);
        for (const auto& [id, entry] : m_mapIdleDriver) {
            if (entry.state == PACKAGE_KNOWN || entry.state == PACKAGE_DOWNLOAD_FAILED) again.push_back(ToPackage(id, entry));
        }
    }
    if (IsDriverSwitchOpen()) {
        CheckDownLoad(std::move(again), DRIVER_UPDATE_IDLE);
    } else {
        ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_SWITCH_OFF, DRIVER_UPDATE_IDLE,
                                UpdaterManager::UPDATER_TRACK_SYSTEM_STATE_DOWNLOAD, "All");
    }
}

void CKVAServerQuery::OnRecvAppMgIPCMessage(tagIPC_MESSAGE_ITEM& item) {
    bool show = true;
    if (!item.pszMessage || item.nMessageLen <= 0) {
        KVA_LOG_ERROR("received invalid check pop window msg");
    } else {
        const auto answer = state_payload::ReadAppMgAnswer(state_payload::Text(item.pszMessage, item.nMessageLen));
        if (!answer.valid) {
            KVA_LOG_ERROR("received invalid check pop window msg");
            return;
        }
        show = answer.show;
        for (const auto& [id, version] : answer.ignored) IgnorePopupDriver(id, version);
        if (answer.danglingId) KVA_LOG_ERROR("ignored driver " << answer.dangling << " has no version");
    }
    std::vector<_TOBEUPDATE_DRIVER_INFO> left;
    {
        std::lock_guard lock(m_mtxTables);
        left = m_vecPopupDriver;
    }
    const int n = static_cast<int>(left.size());
    if (n == 0) return;
    if (!SendDrvNumtoDoctor(n)) KVA_LOG_ERROR("failed to send the drv num " << n << " to doctor.");
    if (!show) return;
    KVAAppUpdataXML::GetInstance()->SetDriverList(std::move(left));
    KVAAppUpdataXML::GetInstance()->GetDriverItem();
    ReportEvent(evt::kAppNoticeShown, kNoticeFromAppManager);
}

void CKVAServerQuery::IgnorePopupDriver(const std::string& id, const std::string& version) {
    std::optional<_TOBEUPDATE_DRIVER_INFO> found;
    {
        std::lock_guard lock(m_mtxTables);
        for (const auto& p : m_vecPopupDriver) {
            if (p.strDriverID == id && p.versionInfo.strNextVersion == version) found = p;
        }
    }
    if (!found) return;
    if (DeleteDetectedDrv(id, version, 1) != 0) KVA_LOG_ERROR("failed to delete folder for ignore driver: " << id);
    _IGNORED_DRIVER_INFO ignored;
    ignored.strDriverID = found->strDriverID;
    ignored.strCurVersion = found->strCurVersion;
    ignored.isInvolovedA = found->isInvolovedA;
    ignored.strIgnoreTime = IgnoreTime();
    ignored.strNextVersion = found->versionInfo.strNextVersion;
    std::lock_guard lock(m_mtxTables);
    m_vecDriverExtra.push_back(std::move(ignored));
    std::erase_if(m_vecPopupDriver, [&](const _TOBEUPDATE_DRIVER_INFO& p) {
        return p.strDriverID == id && p.versionInfo.strNextVersion == version;
    });
}

void CKVAServerQuery::OnRecvAppMgCloseWinMsg(tagIPC_MESSAGE_ITEM& item) {
    const auto close = state_payload::ReadU32Exact(item.pszMessage, item.nMessageLen);
    if (!close) {
        KVA_LOG_ERROR("received invalid close pop window message");
        return;
    }
    if (*close != 0) KVAAppUpdataXML::GetInstance()->CloseTips();
}

void CKVAServerQuery::OnRecvSettingPopWindowMsg(tagIPC_MESSAGE_ITEM& item) {
    const auto answer = state_payload::ReadByteExact(item.pszMessage, item.nMessageLen);
    if (!answer) {
        KVA_LOG_ERROR("received invalid setting pop window reply message");
        return;
    }
    KVA_LOG_WARN("OnRecvSettingPopWindowMsg the result is " << static_cast<int>(*answer));
    if (*answer == 0) return;
    _TOBEUPDATE_DRIVER_INFO app;
    {
        std::lock_guard lock(m_mtxTables);
        app = m_appUpdateInfo;
    }
    DuiLib::UIMainQueue::getInstance()->dispatch([app = std::move(app)] {
        ReportEvent(evt::kAppNoticeShown, kNoticeFromSettings);
        KVASelfUpdateXML::GetInstance()->SetDriverVersionInfo(app);
    });
}

void CKVAServerQuery::OnRecvSettingCloseWinMsg(tagIPC_MESSAGE_ITEM& item) {
    if (!state_payload::ReadByteExact(item.pszMessage, item.nMessageLen)) {
        KVA_LOG_ERROR("received invalid setting close pop window message");
    }
}

void CKVAServerQuery::OnRecvAppManagerUIStatusMsg(tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage || item.nMessageLen <= 0) {
        KVA_LOG_ERROR("OnRecvAppManagerUIStatusMsg: received invalid message");
        return;
    }
    const auto status = state_payload::ReadUIStatus(state_payload::Text(item.pszMessage, item.nMessageLen));
    KVA_LOG_WARN("OnRecvAppManagerUIStatusMsg: driverID" << status.strDriverID << " the result is " << status.complete
                                                          << " the type is " << status.sourceType);
    if (!status.strDriverID.empty()) {
        {
            std::lock_guard lock(m_mtxTables);
            for (PackageTable* table : {&m_mapIdleDriver, &m_mapForceDriver}) {
                if (auto it = table->find(status.strDriverID); it != table->end()) it->second.state = PACKAGE_INSTALLED;
            }
        }
        PublishPackageTables();
    }
    const auto manualRunning = [this] { return !m_bSourceComplete[0] || !m_bSourceComplete[1] || !m_bSource2Complete; };
    const bool wasRunning = manualRunning();
    switch (status.sourceType) {
        case 0: m_bSourceComplete[0] = status.complete; break;
        case 1: m_bSourceComplete[1] = status.complete; break;
        case 2: m_bSource2Complete = status.complete; break;
        default: break;
    }
    if (manualRunning() != wasRunning) PublishPackageTables();
}

void CKVAServerQuery::OnRecvSynergyMsg(tagIPC_MESSAGE_ITEM& item) {
    const bool inUse = state_payload::Text(item.pszMessage, item.nMessageLen) == "1";
    const bool changed = m_bSynergyInUse.exchange(inUse) != inUse;
    {
        std::lock_guard lock(m_mtxSynergy);
        if (m_hSynergyEvent) m_hSynergyEvent->Set();
    }
    // After the waiting question has its answer: the view is written under the tables' lock.
    if (changed) PublishPackageTables();
}

bool CKVAServerQuery::IsSynergyInUse() {
    // The event exists before the question leaves, so a quick answer is not lost; callers that ask
    // at the same time share it and all wake on the first answer.
    std::shared_ptr<plat::CEvent> answered;
    {
        std::lock_guard lock(m_mtxSynergy);
        if (!m_hSynergyEvent) m_hSynergyEvent = std::make_shared<plat::CEvent>();
        answered = m_hSynergyEvent;
    }
    auto forget = [&] {
        std::lock_guard lock(m_mtxSynergy);
        if (m_hSynergyEvent == answered) m_hSynergyEvent.reset();
    };
    tagIPC_MESSAGE_ITEM question;
    question.nReceiverID = ipc_endpoint::kSynergy;
    question.nSenderID = ipc_endpoint::kService;
    question.nMessageID = ipc_msg::kSynergyQuestion;
    question.nReplyMessageID = ipc_msg::kSynergyAnswer;
    if (!m_ipcClient.PostIPCMessage(question)) {
        forget();
        return false;
    }
    int which = -1;
    const auto result = plat::CClock::Get().Wait({answered.get(), &m_evStop}, kSynergyWaitMs, &which);
    forget();
    if (result == plat::WaitResult::Timeout) {
        KVA_LOG_ERROR("failed to recv msg from synergy ");
        return false;
    }
    return which == 0 && m_bSynergyInUse;
}

bool CKVAServerQuery::SendPopWindowsMsgToAppMg(bool show) {
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kAppManager;
    item.nSenderID = ipc_endpoint::kService;
    item.nMessageID = show ? ipc_msg::kShowDriverPopup : ipc_msg::kCloseDriverPopup;
    item.nReplyMessageID = 0;
    return m_ipcClient.PostIPCMessage(item);
}

bool CKVAServerQuery::SendMessageToMsgCenter(unsigned long long id) {
    CMsgCenterRequest request;
    request.kind = CMsgCenterRequest::kKindPopup;
    request.firstOwnerId = id;
    request.secondOwnerId = 0;
    request.displayTimeMs = kMsgCenterDisplayMs;
    request.kindValue = id;
    std::vector<char> bytes = request.Serialize();
    if (bytes.size() != request.ComputedSize()) {
        KVA_LOG_ERROR("message-centre request of " << bytes.size() << " bytes, expected " << request.ComputedSize());
        return false;
    }
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kMessageCentre;
    item.nSenderID = -1;
    item.nMessageID = ipc_msg::kMsgCenterRequest;
    item.nReplyMessageID = ipc_msg::kMsgCenterSecondId;
    item.pszMessage = bytes.data();
    item.nMessageLen = static_cast<std::int32_t>(bytes.size());
    return m_ipcClient.PostIPCMessage(item);
}
