// The install road across the suite's real processes: `kva serve` with a signed catalogue,
// `kva suite` with its installer, `kva host` with the library, on a fresh machine and a scaled
// clock. This process only sets the machine up and reads what the others left on it.
#include "CrossProcessFixture.h"
#include "KVADownload/UpdateService.h"
#include "kva/platform/Process.h"

namespace {

using kvatest::Eventually;
using namespace std::chrono_literals;

using CrossProcessInstallTest = kvatest::CCrossProcessTest;

TEST_F(CrossProcessInstallTest, RoundsInstallWhatIsOfferedAndLeaveAFailedPackageAlone) {
    MakeService();
    const std::string before15 = GetInstalledVersion("15");
    StartRoad({"--do", "installer fail-package 23 1 1603"});

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
    EXPECT_NE(m_host.Stop(), 128 + 9);
    EXPECT_EQ(m_suite.Stop(), 0);
    m_serve.Stop();
    const std::string history = Kva("history");
    EXPECT_NE(history.find("22.200.0.6"), std::string::npos) << history;
    EXPECT_NE(history.find("6.0.9500.1"), std::string::npos) << history;
    EXPECT_EQ(history.find("1.0.12"), std::string::npos) << history;
}

}  // namespace
