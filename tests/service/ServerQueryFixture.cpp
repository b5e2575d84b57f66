#include "ServerQueryFixture.h"

#include <atomic>

#include "IPCMessage/IPCEndpoint.h"
#include "KVADownload/Catalogue.h"
#include "TextFile.h"
#include "ServeKit/CatalogueMaker.h"
#include "Util/CommonCfgMgr.h"
#include "Util/DE.h"
#include "kva/platform/Clock.h"

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

void CServiceTest::WriteCatalogue(const std::function<void(CCatalogueMaker&)>& fill) {
    static const std::pair<std::string, std::string> key = [] {
        std::pair<std::string, std::string> k;
        GenerateMakerKey(&k.first, &k.second);
        return k;
    }();
    CCatalogueMaker maker(ServiceFolder(), key.first);
    if (fill) fill(maker);
    static std::uint64_t version = 1;
    const std::int64_t expires = plat::CClock::Get().WallMs() / 1000 + 365 * 86400;
    ASSERT_TRUE(maker.Write(ModelKey(), version++, expires));

    const auto file = CCommonCfgMgr::FilePath();
    std::string cfg = kvatest::ReadAll(file);
    if (cfg.find("<UpdateService ") == std::string::npos) cfg = "<commoncfg><UpdateService url=\"" + ServiceUrl() + "\"/></commoncfg>";
    const auto at = cfg.find("<UpdateService ") + std::string("<UpdateService ").size();
    if (cfg.find("publicKey=") == std::string::npos) cfg.insert(at, "publicKey=\"" + key.second + "\" ");
    kvatest::WriteChangedFile(file, cfg);
}

std::unique_ptr<CKVAServerQuery> CServiceTest::Start() {
    auto q = std::make_unique<CKVAServerQuery>();
    EXPECT_TRUE(q->StartServerQuery());
    return q;
}

bool CServiceTest::WaitUntilIdle() { return plat::CClock::Get().WaitUntilIdle(); }

std::vector<DataEventRecord> CServiceTest::Events(int shortNumber) {
    return CBIDataReport::GetInstance()->Events(601000000 + shortNumber);
}

std::wstring CServiceTest::SettingKey() const { return UserKey(L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting"); }
std::wstring CServiceTest::UserKey(const wchar_t* tail) const { return VTPROCESS::GetCurrentUserSidstr() + tail; }

}  // namespace kvatest
