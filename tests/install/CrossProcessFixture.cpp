#include "CrossProcessFixture.h"

#include <fstream>
#include <regex>
#include <sstream>

#include "DataReport/BIDataReport.h"
#include "Util/DE.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Process.h"
#include "TextFile.h"

namespace kvatest {

std::vector<std::string> CCrossProcessTest::Args(std::vector<std::string> tail, bool scaled) const {
    std::vector<std::string> all = {"--state", State().string()};
    if (scaled) all.insert(all.end(), {"--time-scale", "60"});
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

std::string CCrossProcessTest::Kva(const std::string& args) {
    std::string out;
    const int rc = RunKva(State(), args, &out);
    EXPECT_EQ(rc, 0) << args << ": " << out;
    return out;
}

void CCrossProcessTest::Configure(const std::string& url) {
    const auto file = plat::ToHostPath("C:\\Program Files\\Vantor\\Pilotdeck\\config\\commoncfg.xml");
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    std::smatch key;
    const std::string cfg = text.str();
    ASSERT_TRUE(std::regex_search(cfg, key, std::regex("publicKey=\"([^\"]+)\""))) << cfg;
    std::ofstream(file) << "<commoncfg><UpdateService url=\"" << url << "\" publicKey=\"" << key[1].str()
                        << "\"/><Update initTime=\"1\" queryPeriod=\"2\">"
                        << "<IdleUpdate name=\"Onboard Audio Driver\"/></Update></commoncfg>";
    const std::wstring sid = VTPROCESS::GetCurrentUserSidstr();
    const std::wstring guide = sid + L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide";
    DE::Registry::SetValue(plat::kHKeyUsers, guide, L"Protocol", std::wstring(L"1"));
    DE::Registry::SetValue(plat::kHKeyUsers, guide, L"ProtocolVer", std::wstring(L"8"));
    DE::Registry::SetValue(plat::kHKeyUsers, sid + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting", L"checkupdate",
                           plat::DWORD{1});
}

std::string CCrossProcessTest::Serve(const std::string& service, plat::CChildProcess& serve) {
    if (!serve.Start(BinaryPath("kva"), Args({"serve", service, "--port", "0"}, false))) return {};
    std::string line;
    if (!serve.ReadLine(&line, std::chrono::seconds(10))) return {};
    const auto at = line.find(" on ");
    return at == std::string::npos ? std::string() : line.substr(at + 4);
}

void CCrossProcessTest::TearDown() {
    for (plat::CChildProcess* child : {&m_host, &m_suite, &m_serve}) {
        if (child->Running()) child->Stop();
    }
    CTestMachine::TearDown();
}

std::filesystem::path CCrossProcessTest::MakeService() {
    Kva("catalogue make '" + Service().string() + "' --configure 'file://" + Service().string() + "' --inventory");
    return Service();
}

void CCrossProcessTest::StartRoad(std::vector<std::string> suiteArgs) {
    const std::string url = Serve(Service().string(), m_serve);
    ASSERT_FALSE(url.empty());
    Configure(url);
    suiteArgs.insert(suiteArgs.begin(), "suite");
    ASSERT_TRUE(m_suite.Start(BinaryPath("kva"), Args(suiteArgs)));
    ASSERT_TRUE(m_host.Start(BinaryPath("kva"), Args({"host"})));
}

std::string CCrossProcessTest::Logs() const { return ReadFolder(State() / "logs"); }

std::size_t CCrossProcessTest::Count(int shortEventNumber) {
    return CBIDataReport::GetInstance()->Events(601000000 + shortEventNumber).size();
}

}  // namespace kvatest
