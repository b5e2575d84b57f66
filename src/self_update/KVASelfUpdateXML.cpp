#include "self_update/KVASelfUpdateXML.h"

#include <cstring>

#include "IPCMessage/IPCMessageClient.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"
#include "self_update/KVAFullUpdaterDlg.h"
#include "self_update/NoticeSettings.h"

namespace {
constexpr unsigned kDriverStatusTimeoutMs = 20000;
}

KVASelfUpdateXML* KVASelfUpdateXML::GetInstance() {
    static KVASelfUpdateXML instance;
    return &instance;
}

KVASelfUpdateXML::KVASelfUpdateXML() : CRemindingNotice(L"selfRemind", WHICH_CALL_SELF_UPDATE_NOTICE) {
    // The tips library outlives this object, whose answers it delivers.
    vtr::tips_sdk::KVATipsManager::GetInstance();
    CDriverDownloadManager::GetInstance();  // and so does the full updater's download library
}

KVASelfUpdateXML::~KVASelfUpdateXML() {
    std::unique_ptr<CKVAFullUpdaterDlg> updater;
    std::shared_ptr<vtr::tips_sdk::TipsNormal> tips;
    {
        std::lock_guard lock(m_mtx);
        updater = std::move(m_fullUpdater);
        tips = std::move(m_tips);
    }
    updater.reset();
    if (tips) vtr::tips_sdk::KVATipsManager::GetInstance()->CloseTips(tips);
}

CIPCMessageClient& KVASelfUpdateXML::Client() {
    std::lock_guard lock(m_mtx);
    if (!m_client) m_client = std::make_unique<CIPCMessageClient>(ipc_endpoint::kSelfUpdateUI, true, false);
    return *m_client;
}

void KVASelfUpdateXML::SetDriverVersionInfo(const _TOBEUPDATE_DRIVER_INFO& record) {
    using namespace notice_settings;
    std::unique_lock lock(m_mtx);
    if (!m_remind) {
        KVA_LOG_WARN("not remind me " << m_remind);
        return;
    }
    if (!RemindDelayOver()) return;
    const bool updaterBusy = m_fullUpdater && (m_fullUpdater->IsDownloading() || m_fullUpdater->IsInstalling());
    if (updaterBusy || m_upgrading) {
        KVA_LOG_WARN("user is upgrading ");
        return;
    }
    m_upgrading = true;
    m_record = record;
    m_btnText = Text(L"IDS_DRVUP_M01_S09");
    auto& mgr = *vtr::tips_sdk::KVATipsManager::GetInstance();
    m_tips = mgr.CreateTips(L"SelfUpdate", vtr::tips_sdk::TIPS_NORMAL);
    m_tips->SetTitleTxt(Text(L"IDS_SET_MTRAN"));
    m_tips->SetMode(0);
    m_tips->SetLevel(1);
    m_tips->SetContentTxt(TextWithText(L"IDS_SELF_UPDATE_TIPS", plat::FromUtf8(record.versionInfo.strNextVersion)));
    m_tips->SetCloseOption({Text(L"IDS_DRVUP_MSGCENTER_IDLE_UPDATE"), Text(L"IDS_DRVUP_MSGCENTER_IGNORE")});
    m_tips->SetTitleIcon(ManagerIcon());
    m_tips->SetDescription(Text(L"IDS_DRVUP_SUGGEST_UP"));
    m_tips->SetDescriptionLevel(1);
    m_tips->SetBtnTxt(m_btnText);
    m_tips->SetReplyCallback([this](int event, const std::wstring& text) { OnReply(event, text); });
    auto tips = m_tips;
    lock.unlock();
    mgr.Show(tips);
    mgr.Update(tips);
}

bool KVASelfUpdateXML::SendDriverStatusMsg() {
    char data[] = "1";
    tagIPC_MESSAGE_ITEM request;
    request.nReceiverID = ipc_endpoint::kAppManager;
    request.nSenderID = ipc_endpoint::kSelfUpdateUI;
    request.nMessageID = ipc_msg::kDriverStatus;
    request.nReplyMessageID = 0;
    request.nReserved = -1;
    request.nSyncMessageId = static_cast<std::int32_t>(plat::GetTickCount());
    request.nMessageLen = 1;
    request.pszMessage = data;
    tagIPC_MESSAGE_ITEM reply;
    const bool sent = Client().SendIPCMessage(request, reply, kDriverStatusTimeoutMs);
    KVA_LOG_WARN("send ipc return value " << sent);
    if (!sent || !reply.pszMessage || reply.nMessageLen <= 0) {
        KVA_LOG_ERROR("ipc recv error");
        return false;
    }
    return std::string(reply.pszMessage, strnlen(reply.pszMessage, static_cast<std::size_t>(reply.nMessageLen))) == "1";
}

void KVASelfUpdateXML::OnReply(int event, const std::wstring& text) {
    using namespace notice_settings;
    auto& mgr = *vtr::tips_sdk::KVATipsManager::GetInstance();
    if (event == 1) {
        std::shared_ptr<vtr::tips_sdk::TipsNormal> tips;
        bool waiting = false;
        {
            std::lock_guard lock(m_mtx);
            tips = m_tips;
            waiting = m_btnText == Text(L"IDS_SELFUPDATE_WAIT_CONFIRM");
        }
        if (waiting && tips) mgr.CloseTips(tips);
        if (SendDriverStatusMsg()) {
            if (tips) {
                tips->SetContentTxt(Text(L"IDS_SELFUPDATE_WATTING_DRVUP"));
                tips->SetBtnTxt(Text(L"IDS_SELFUPDATE_WAIT_CONFIRM"));
                mgr.Update(tips);
            }
            std::lock_guard lock(m_mtx);
            m_btnText = Text(L"IDS_SELFUPDATE_WAIT_CONFIRM");
        } else {
            CKVAFullUpdaterDlg* updater = nullptr;
            {
                std::lock_guard lock(m_mtx);
                m_fullUpdater = std::make_unique<CKVAFullUpdaterDlg>(tips, m_record);
                updater = m_fullUpdater.get();
            }
            updater->StartDownload();
        }
        m_upgrading = false;
        return;
    }
    if (event != 3) return;
    bool remind = false;
    {
        std::lock_guard lock(m_mtx);
        TakeCloseChoice(text);
        remind = m_remind;
        Write(L"selfupdate", m_remind ? 1 : 0);
        WriteRemindMode();
    }
    MarkAskedThisBoot();
    ReportFull(kCloseChoiceEvent, {remind ? "1" : "0"});
    m_upgrading = false;
}

std::shared_ptr<vtr::tips_sdk::TipsNormal> KVASelfUpdateXML::Tips() {
    std::lock_guard lock(m_mtx);
    return m_tips;
}

bool KVASelfUpdateXML::HasFullUpdater() {
    std::lock_guard lock(m_mtx);
    return m_fullUpdater != nullptr;
}

void KVASelfUpdateXML::Reload() {
    std::unique_ptr<CKVAFullUpdaterDlg> updater;
    std::shared_ptr<vtr::tips_sdk::TipsNormal> tips;
    {
        std::lock_guard lock(m_mtx);
        updater = std::move(m_fullUpdater);
        tips = std::move(m_tips);
        ResetRemind();
        m_btnText.clear();
        m_client.reset();
    }
    m_upgrading = false;
    if (tips) vtr::tips_sdk::KVATipsManager::GetInstance()->CloseTips(tips);
}
