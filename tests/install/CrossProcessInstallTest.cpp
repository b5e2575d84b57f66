// The install road across the suite's real processes: `kva serve` with a signed catalogue,
// `kva suite` with its installer, `kva host` with the library, on a fresh machine and a scaled
// clock. This process only sets the machine up and reads what the others left on it.
#include <fstream>
#include <regex>
#include <sstream>

#include "DataReport/BIDataReport.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "KVADownload/UpdateService.h"
#include "TestMachine.h"
#include "Util/DE.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Process.h"

namespace {

using kvatest::Eventually;
using namespace std::chrono_literals;

class CrossProcessInstallTest : public kvatest::CTestMachine {
protected:
    std::vector<std::string> Args(std::vector<std::string> tail, bool scaled = true) const {
        std::vector<std::string> all = {"--state", State().string()};
        if (scaled) all.insert(all.end(), {"--time-scale", "60"});
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    }
    std::string Kva(const std::string& args) {
        std::string out;
        const int rc = kvatest::RunCommand(kvatest::BinaryPath("kva").string() + " --state '" + State().string() + "' " + args, &out);
        EXPECT_EQ(rc, 0) << args << ": " << out;
        return out;
    }
    // The configuration `kva catalogue make` wrote, pointed at `url`, with a short schedule and
    // the audio driver allowed to install when idle; the user agreed and opened idle updates.
    void Configure(const std::string& url) {
        const auto file = plat::ToHostPath("C:\\Program Files\\Vantor\\Pilotdeck\\config\\commoncfg.xml");
        std::stringstream text;
        text << std::ifstream(file).rdbuf();
        std::smatch key;
        const std::string cfg = text.str();
        ASSERT_TRUE(std::regex_search(cfg, key, std::regex("publicKey=\"([^\"]+)\""))) << cfg;
        std::ofstream(file) << "<commoncfg><UpdateService url=\"" << url << "\" publicKey=\"" << key[1].str()
                            << "\"/><Update initTime=\"1\" queryPeriod=\"2\">"
                            << "<IdleUpdate name=\"Realtek Audio Driver\"/></Update></commoncfg>";
        const std::wstring sid = VTPROCESS::GetCurrentUserSidstr();
        const std::wstring guide = sid + L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide";
        DE::Registry::SetValue(plat::kHKeyUsers, guide, L"Protocol", std::wstring(L"1"));
        DE::Registry::SetValue(plat::kHKeyUsers, guide, L"ProtocolVer", std::wstring(L"8"));
        DE::Registry::SetValue(plat::kHKeyUsers, sid + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting", L"checkupdate",
                               plat::DWORD{1});
    }
    static std::size_t Count(int shortNumber) { return CBIDataReport::GetInstance()->Events(601000000 + shortNumber).size(); }
};

TEST_F(CrossProcessInstallTest, RoundsInstallWhatIsOfferedAndLeaveAFailedPackageAlone) {
    const std::string service = (State() / "service").string();
    Kva("catalogue make '" + service + "' --configure 'file://" + service + "' --inventory");
    const std::string before15 = GetInstalledVersion("15");

    const auto kva = kvatest::BinaryPath("kva");
    plat::CChildProcess serve, suite, host;
    ASSERT_TRUE(serve.Start(kva, Args({"serve", service, "--port", "0"}, false)));
    std::string line;
    ASSERT_TRUE(serve.ReadLine(&line, 10s));
    const auto at = line.find(" on ");
    ASSERT_NE(at, std::string::npos) << line;
    Configure(line.substr(at + 4));
    ASSERT_TRUE(suite.Start(kva, Args({"suite", "--do", "installer fail-package 23 1 1603"})));
    ASSERT_TRUE(host.Start(kva, Args({"host"})));

    // Forced "15" and "23" and the idle "14" are downloaded and installed; "23" fails.
    ASSERT_TRUE(Eventually([] { return GetInstalledVersion("15") == "22.200.0.6" && GetInstalledVersion("14") == "6.0.9500.1" &&
                                       Count(2005) == 1; },
                           60s))
        << "15: " << GetInstalledVersion("15") << ", 14: " << GetInstalledVersion("14") << ", failures " << Count(2005);
    EXPECT_NE(before15, "22.200.0.6");
    EXPECT_NE(GetInstalledVersion("23"), "1.0.12");

    // Two more rounds and their install passes: the failed package is not tried again.
    const std::size_t rounds = Count(3001);
    ASSERT_TRUE(Eventually([&] { return Count(3001) >= rounds + 2; }, 60s));
    EXPECT_EQ(Count(2005), 1u);

    // What the service offers now: neither installed package.
    std::vector<_TOBEUPDATE_DRIVER_INFO> offered;
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    ASSERT_EQ(GetDriverNewVersionEx(offered, ignored, 1), 0);
    for (const auto& p : offered) EXPECT_TRUE(p.strDriverID != "15" && p.strDriverID != "14") << p.strDriverID;

    // The host must end once asked, not be killed at the time-out; the exit status of its unload is
    // HostTest's business.
    EXPECT_NE(host.Stop(), 128 + 9);
    EXPECT_EQ(suite.Stop(), 0);
    serve.Stop();
    const std::string history = Kva("history");
    EXPECT_NE(history.find("22.200.0.6"), std::string::npos) << history;
    EXPECT_NE(history.find("6.0.9500.1"), std::string::npos) << history;
    EXPECT_EQ(history.find("1.0.12"), std::string::npos) << history;
}

}  // namespace
