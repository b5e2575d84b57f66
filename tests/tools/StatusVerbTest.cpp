// `kva status`: the service's tables and flags as its view shows them, in words and as JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "KVADownload/Folders.h"
#include "TestMachine.h"
#include "driver_update/PackageTablesView.h"

namespace {

class KvaStatusTest : public kvatest::CTestMachine {
protected:
    int Kva(const std::string& args, std::string* out) {
        return kvatest::RunCommand(kvatest::BinaryPath("kva").string() + " status " + args + " --state '" +
                                       State().string() + "' 2>&1",
                                   out);
    }
};

TEST_F(KvaStatusTest, SaysPlainlyWhenNoServiceHasRunHere) {
    std::string out;
    EXPECT_EQ(Kva("", &out), 1);
    EXPECT_NE(out.find("kva host"), std::string::npos) << "says what to do: " << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << "one line, no log: " << out;
}

TEST_F(KvaStatusTest, ShowsTablesFlagsAndTheLastCheck) {
    driver_update::PackageTableCopy forced, idle;
    forced["15"].strDriverName = "Wireless LAN Driver";
    forced["15"].state = PACKAGE_INSTALLED;
    idle["14"].strDriverName = "Audio Driver";
    idle["14"].state = PACKAGE_DOWNLOADING;
    _TOBEUPDATE_DRIVER_INFO offered;
    offered.strDriverID = "23";
    offered.strDriverName = "BIOS";
    driver_update::CServiceFlagsView flags;
    flags.freeScene = false;
    flags.appSetupRunning = true;
    ASSERT_TRUE(driver_update::WritePackageTablesFile(driver_update::PackageTablesJson(forced, idle, {offered}, flags)));
    ASSERT_TRUE(CLastCheckTimeMgr().UpdateDriverCheckTime());

    std::string out;
    ASSERT_EQ(Kva("--json", &out), 0) << out;
    const auto s = nlohmann::json::parse(out);
    EXPECT_EQ(s["tables"]["forced"]["15"]["state"], PACKAGE_INSTALLED);
    EXPECT_EQ(s["service"]["freeScene"], false);
    EXPECT_GT(s["lastCheck"].get<std::int64_t>(), 0);
    EXPECT_EQ(s["nextCheck"].get<std::int64_t>() - s["lastCheck"].get<std::int64_t>(), 240 * 60)
        << "the default period";

    ASSERT_EQ(Kva("", &out), 0) << out;
    EXPECT_NE(out.find("free scene    no"), std::string::npos) << out;
    EXPECT_NE(out.find("application setup running  yes"), std::string::npos) << out;
    EXPECT_NE(out.find("installed"), std::string::npos) << out;
    EXPECT_NE(out.find("downloading"), std::string::npos) << out;
    EXPECT_NE(out.find("offered"), std::string::npos) << out;
    EXPECT_NE(out.find("none accepted yet"), std::string::npos) << out;
}

}  // namespace
