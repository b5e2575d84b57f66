#include "IpcTestKit.h"

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

}  // namespace kvatest
