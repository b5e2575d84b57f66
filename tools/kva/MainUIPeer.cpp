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

CMainUIPeer::CMainUIPeer(Print print) : CClientPeer(std::move(print), ipc_endpoint::kMainUI) {}

void CMainUIPeer::Bind(CIPCMessageClient& client) {
    for (int id : {ipc_msg::kCheckDiagnoseAnalysis, ipc_msg::kDownloadDiagnoseAnalysis}) {
        client.BindMessageCallback(id, [this](tagIPC_MESSAGE_ITEM& item) {
            const bool check = item.nMessageID == ipc_msg::kCheckDiagnoseAnalysis;
            m_print(std::string("mainui    diagnose ") + (check ? "newer version: " : "download started: ") + Byte(item));
        });
    }
    client.SubscribeIPCMessage(static_cast<unsigned>(ipc_msg::kDiagnoseAnalysisReady) & 0xFFFF0000u,
                                  static_cast<unsigned>(ipc_msg::kDiagnoseAnalysisReady));
    client.BindSubscribeCallback([this](tagIPC_MESSAGE_ITEM& item) {
        m_print("mainui    diagnose tool installed: " + Byte(item));
    });
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
