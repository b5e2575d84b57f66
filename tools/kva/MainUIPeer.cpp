#include "MainUIPeer.h"

#include "IPCMessage/IPCMessageClient.h"
#include "ipc/IpcIds.h"

namespace kva {

namespace {
// The second id the main UI gives its diagnose requests; the updater answers from it.
constexpr int kDiagnoseAnswerFrom = 0x20001;

std::string Byte(const tagIPC_MESSAGE_ITEM& item) {
    return item.pszMessage && item.nMessageLen == 1 ? std::to_string(static_cast<int>(item.pszMessage[0]))
                                                    : "(" + std::to_string(item.nMessageLen) + " bytes)";
}
}  // namespace

CMainUIPeer::CMainUIPeer(Print print) : m_print(std::move(print)) {}
CMainUIPeer::~CMainUIPeer() = default;

bool CMainUIPeer::Start() {
    m_client = std::make_unique<CIPCMessageClient>(ipc_endpoint::kMainUI, true, false);
    for (int id : {ipc_msg::kCheckDiagnoseAnalysis, ipc_msg::kDownloadDiagnoseAnalysis}) {
        m_client->BindMessageCallback(id, [this](tagIPC_MESSAGE_ITEM& item) {
            const bool check = item.nMessageID == ipc_msg::kCheckDiagnoseAnalysis;
            m_print(std::string("mainui    diagnose ") + (check ? "newer version: " : "download started: ") + Byte(item));
        });
    }
    m_client->SubscribeIPCMessage(static_cast<unsigned>(ipc_msg::kDiagnoseAnalysisReady) & 0xFFFF0000u,
                                  static_cast<unsigned>(ipc_msg::kDiagnoseAnalysisReady));
    m_client->BindSubscribeCallback([this](tagIPC_MESSAGE_ITEM& item) {
        m_print("mainui    diagnose tool installed: " + Byte(item));
    });
    return m_client->WaitForHub(std::chrono::milliseconds(5000));
}

bool CMainUIPeer::Run(const std::string& step, std::string* error) {
    int message = 0;
    if (step == "diagnose check") message = ipc_msg::kCheckDiagnoseAnalysis;
    else if (step == "diagnose download") message = ipc_msg::kDownloadDiagnoseAnalysis;
    else return (*error = "mainui diagnose check|download", false);
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = ipc_endpoint::kService;
    item.nSenderID = ipc_endpoint::kMainUI;
    item.nMessageID = message;
    item.nReplyMessageID = kDiagnoseAnswerFrom;
    item.nSyncMessageId = m_sync++;
    if (!m_client->PostIPCMessage(item)) return (*error = "mainui request not sent", false);
    m_print("mainui    asked: " + step);
    return true;
}

}  // namespace kva
