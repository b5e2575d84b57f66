// Window and system-state coordination with the suite's UI, settings, synergy and message centre.
// The synergy question and the application manager's pop-up request are in place; the other
// handlers acknowledge their messages only, until the coordination they drive is built.
#include <cstring>

#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr int kOwnEndpoint = 0x50000;
constexpr int kSynergyEndpoint = 0x150000;
constexpr int kSynergyQuestion = 0x150239;
constexpr int kSynergyAnswer = 0x50015;
constexpr int kAppManagerEndpoint = 0xF0000;
constexpr std::uint32_t kSynergyWaitMs = 10000;

}  // namespace

#define KVA_LOG_RECEIPT(item) \
    KVA_LOG_WARN("received 0x" << std::hex << (item).nMessageID << " from 0x" << (item).nSenderID << std::dec)

void CKVAServerQuery::OnRecvAppMgIPCMessage(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvAppMgCloseWinMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSettingPopWindowMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSettingCloseWinMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvSysState(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }
void CKVAServerQuery::OnRecvAppManagerUIStatusMsg(tagIPC_MESSAGE_ITEM& item) { KVA_LOG_RECEIPT(item); }

void CKVAServerQuery::OnRecvSynergyMsg(tagIPC_MESSAGE_ITEM& item) {
    bool inUse = false;
    if (item.pszMessage && item.nMessageLen > 0) {
        const std::size_t len = strnlen(item.pszMessage, static_cast<std::size_t>(item.nMessageLen));
        inUse = std::string(item.pszMessage, len) == "1";
    }
    m_bSynergyInUse = inUse;
    std::lock_guard lock(m_mtxSynergy);
    if (m_hSynergyEvent) m_hSynergyEvent->Set();
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
    question.nReceiverID = kSynergyEndpoint;
    question.nSenderID = kOwnEndpoint;
    question.nMessageID = kSynergyQuestion;
    question.nReplyMessageID = kSynergyAnswer;
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
    item.nReceiverID = kAppManagerEndpoint;
    item.nSenderID = kOwnEndpoint;
    item.nMessageID = show ? 0x50004 : 0x50006;
    item.nReplyMessageID = 0;
    return m_ipcClient.PostIPCMessage(item);
}

bool CKVAServerQuery::SendMessageToMsgCenter(unsigned long long id) {
    KVA_LOG_ERROR("message-centre requests are not available yet, id " << id);
    return false;
}
