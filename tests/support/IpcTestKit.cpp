#include "IpcTestKit.h"

#include <algorithm>
#include <atomic>

#include "IPCMessage/IPCEndpoint.h"

namespace kvatest {

CIPCMessageClient::MessageCallback CRecorder::Callback() {
    return [this](tagIPC_MESSAGE_ITEM& item) { Record(item); };
}

void CRecorder::Record(const tagIPC_MESSAGE_ITEM& item) {
    CSeenItem seen;
    seen.item = item;
    if (item.pszMessage && item.nMessageLen > 0) {
        seen.payload.assign(item.pszMessage, static_cast<std::size_t>(item.nMessageLen));
        seen.terminated = item.pszMessage[item.nMessageLen] == 0;
    }
    seen.item.pszMessage = nullptr;
    std::lock_guard lock(m_mutex);
    m_items.push_back(std::move(seen));
    m_taken.push_back(false);
    m_cv.notify_all();  // under the lock: a test may destroy the recorder once it has seen the item
}

bool CRecorder::WaitFor(std::size_t count, std::chrono::milliseconds realTimeout) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, realTimeout, [&] { return m_items.size() >= count; });
}

std::vector<CSeenItem> CRecorder::Items() const {
    std::lock_guard lock(m_mutex);
    return m_items;
}

std::size_t CRecorder::Count() const {
    std::lock_guard lock(m_mutex);
    return m_items.size();
}

std::size_t CRecorder::Count(std::int32_t messageId) const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(
        std::count_if(m_items.begin(), m_items.end(), [&](const CSeenItem& s) { return s.item.nMessageID == messageId; }));
}

std::optional<CSeenItem> CRecorder::Take(std::int32_t messageId, std::chrono::milliseconds realTimeout) {
    std::unique_lock lock(m_mutex);
    std::size_t at = 0;
    auto untaken = [&] {
        for (at = 0; at < m_items.size(); ++at) {
            if (!m_taken[at] && m_items[at].item.nMessageID == messageId) return true;
        }
        return false;
    };
    if (!m_cv.wait_for(lock, realTimeout, untaken)) return std::nullopt;
    m_taken[at] = true;
    return m_items[at];
}

void CIpcTest::SetUp() {
    CTestMachine::SetUp();
    static std::atomic<int> counter{0};
    if (m_transport == EHubTransport::Inproc) {
        m_endpoint = "inproc://kva-test-hub-" + std::to_string(counter++);
        ipcmsg::SetHubEndpoint(m_endpoint);
    } else {
        ipcmsg::SetHubEndpoint("");
        m_endpoint = ipcmsg::HubEndpoint();
    }
    m_hub = std::make_unique<ipcmsg::CHub>(m_endpoint);
    ASSERT_TRUE(m_hub->Start());
}

void CIpcTest::TearDown() {
    m_hub.reset();
    ipcmsg::SetHubEndpoint("");
    CTestMachine::TearDown();
}

std::unique_ptr<CIPCMessageClient> CIpcTest::Client(int endpointId, bool inlineDispatch) {
    auto client = std::make_unique<CIPCMessageClient>(endpointId, true, inlineDispatch);
    EXPECT_TRUE(client->WaitForHub(kRealTimeout));
    return client;
}

tagIPC_MESSAGE_ITEM CIpcTest::Item(std::int32_t to, std::int32_t from, std::int32_t msg, std::string& payload) {
    tagIPC_MESSAGE_ITEM item;
    item.nReceiverID = to;
    item.nSenderID = from;
    item.nMessageID = msg;
    item.nMessageLen = static_cast<std::int32_t>(payload.size());
    item.pszMessage = payload.empty() ? nullptr : payload.data();
    return item;
}

std::optional<std::string> Ask(CIPCMessageClient& client, std::int32_t to, std::int32_t from, std::int32_t msg,
                               std::int32_t sync, tagIPC_MESSAGE_ITEM* reply, std::string payload, int timeoutMs) {
    tagIPC_MESSAGE_ITEM request = CIpcTest::Item(to, from, msg, payload);
    request.nSyncMessageId = sync;
    tagIPC_MESSAGE_ITEM answer;
    if (!client.SendIPCMessage(request, answer, timeoutMs)) return std::nullopt;
    std::string text;
    if (answer.pszMessage && answer.nMessageLen > 0) text.assign(answer.pszMessage, static_cast<std::size_t>(answer.nMessageLen));
    answer.pszMessage = nullptr;  // the client's buffer, reused by its next call
    if (reply) *reply = answer;
    return text;
}

}  // namespace kvatest
