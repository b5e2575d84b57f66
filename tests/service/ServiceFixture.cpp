#include "ServiceFixture.h"

#include <atomic>

#include "IPCMessage/IPCEndpoint.h"
#include "Util/DE.h"

namespace kvatest {

void CServiceTest::SetUp() {
    CTestMachine::SetUp();
    static std::atomic<int> n{0};
    ipcmsg::SetHubEndpoint("inproc://kva-service-test-" + std::to_string(n++));
    m_hub = std::make_unique<ipcmsg::CHub>();
    ASSERT_TRUE(m_hub->Start());
    std::filesystem::create_directories(ServiceFolder());
}

void CServiceTest::TearDown() {
    m_hub.reset();
    ipcmsg::SetHubEndpoint("");
    CTestMachine::TearDown();
}

std::filesystem::path CServiceTest::ServiceFolder() const { return State() / "service"; }
std::string CServiceTest::ServiceUrl() const { return "file://" + ServiceFolder().string(); }

std::unique_ptr<CKVAServerQuery> CServiceTest::Start() {
    auto q = std::make_unique<CKVAServerQuery>();
    EXPECT_TRUE(q->StartServerQuery());
    return q;
}

std::vector<DataEventRecord> CServiceTest::Events(int shortNumber) {
    return CBIDataReport::GetInstance()->Events(601000000 + shortNumber);
}

std::wstring CServiceTest::SettingKey() const { return UserKey(L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting"); }
std::wstring CServiceTest::UserKey(const wchar_t* tail) const { return VTPROCESS::GetCurrentUserSidstr() + tail; }

}  // namespace kvatest
