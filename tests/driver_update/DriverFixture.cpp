#include "DriverFixture.h"

#include <fstream>
#include <sstream>

#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"

namespace kvatest {

namespace {
// How long (real time) the fixture waits for the hub and the recording peers.
constexpr auto kPeerTimeout = std::chrono::seconds(20);
}

CRecordingPeer::CRecordingPeer(int endpointId) : m_client(endpointId, true, false) {
    m_client.BindDefaultCallback(m_seen.Callback());
    m_client.WaitForHub(kPeerTimeout);
}

bool CRecordingPeer::Send(int messageId, const std::string& payload, int syncId) {
    std::string bytes = payload;
    tagIPC_MESSAGE_ITEM item = CIpcTest::Item(0x50000, m_client.EndpointId(), messageId, bytes);
    item.nSyncMessageId = syncId;
    return m_client.PostIPCMessage(item);
}

bool CRecordingPeer::WaitFor(int messageId, tagIPC_MESSAGE_ITEM* copy, std::string* payload) {
    const auto seen = m_seen.Take(messageId, kPeerTimeout);
    if (!seen) return false;
    if (copy) *copy = seen->item;
    if (payload) *payload = seen->payload;
    return true;
}

void CDriverTest::SetUp() {
    CServiceTest::SetUp();
    m_synergy = std::make_unique<CIPCMessageClient>(0x150000, true, false);
    // The answer goes through the client itself, not m_synergy: tests reset that pointer while
    // the client's threads may still be answering (the client joins them before it goes).
    m_synergy->BindMessageCallback(0x150239, [this, synergy = m_synergy.get()](tagIPC_MESSAGE_ITEM& q) {
        ++m_synergyAsked;
        std::string answer = m_synergyInUse ? "1" : "0";
        synergy->PostIPCMessage(CIpcTest::Item(q.nSenderID, 0x150000, q.nReplyMessageID, answer));
    });
    ASSERT_TRUE(m_synergy->WaitForHub(std::chrono::milliseconds(5000)));
    m_appManager = std::make_unique<CRecordingPeer>(0xF0000);
    Configure({"Onboard Audio Driver"});
    Agree(true);
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{1});
}

void CDriverTest::TearDown() {
    m_publisher.reset();
    m_appManager.reset();
    m_synergy.reset();
    CServiceTest::TearDown();
}

void CDriverTest::Configure(const std::vector<std::string>& idleNames, const std::string& updateAttributes,
                            const std::string& url, int initTimeMinutes) {
    std::ostringstream out;
    out << "<commoncfg><UpdateService url=\"" << (url.empty() ? ServiceUrl() : url) << "\"/>"
        << "<Update initTime=\"" << initTimeMinutes << "\" queryPeriod=\"600\" " << updateAttributes << ">";
    for (const auto& n : idleNames) out << "<IdleUpdate name=\"" << n << "\"/>";
    out << "</Update></commoncfg>";
    kvatest::WriteChangedFile(CCommonCfgMgr::FilePath(), out.str());
}

void CDriverTest::Agree(bool accepted) {
    const std::wstring key = UserKey(L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide");
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"Protocol", std::wstring(accepted ? L"1" : L"0"));
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"ProtocolVer", std::wstring(L"8"));
}

std::unique_ptr<CKVAServerQuery> CDriverTest::StartService() {
    auto q = Start();
    // Requests sent before the service announced its endpoint would be dropped by the hub.
    EXPECT_TRUE(q->IpcClient().WaitForHub(kPeerTimeout));
    return q;
}

bool CDriverTest::WaitDownloads() {
    return CDriverDownloadManager::GetInstance()->WaitAllIdle(std::chrono::milliseconds(20000));
}

enmUPGRADE_DRIVER_INFO CDriverTest::Entry(enmPACKAGE_STATE state, int restartLevel) {
    enmUPGRADE_DRIVER_INFO e;
    e.state = state;
    e.restartLevel1 = restartLevel == 1;
    e.restartLevel2 = restartLevel == 2;
    e.restartLevel3 = restartLevel == 3;
    return e;
}

_TOBEUPDATE_DRIVER_INFO CDriverTest::Package(const std::string& id, const std::string& name, std::uint64_t size,
                                             int updateType) {
    _TOBEUPDATE_DRIVER_INFO r;
    r.strDriverID = id;
    r.strDriverName = name;
    r.versionInfo.strNextVersion = "1.0." + id;
    r.versionInfo.FileSize = size;
    r.policy.updateType = updateType;
    return r;
}

_TOBEUPDATE_DRIVER_INFO CDriverTest::Offered(const std::string& id) {
    std::vector<_TOBEUPDATE_DRIVER_INFO> list;
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    EXPECT_EQ(GetDriverNewVersionEx(list, ignored, 1), 0);
    for (const auto& r : list) {
        if (r.strDriverID == id) return r;
    }
    ADD_FAILURE() << "not offered: " << id;
    return {};
}

std::string CDriverTest::SystemState(std::uint32_t scene, char byte28) {
    std::string word(32, '\0');
    word[0] = static_cast<char>(scene);
    word[28] = byte28;
    return word;
}

bool CDriverTest::Publish(const std::string& payload, int messageId) {
    if (!m_publisher) m_publisher = std::make_unique<CIPCMessageClient>(-1, false, false);
    std::string bytes = payload;
    return m_publisher->PublishIPCMessage(CIpcTest::Item(-1, -1, messageId, bytes));
}

}  // namespace kvatest
