// `kva catalogue make` and `kva history` as a user runs them, on the test's machine.
#include "KVADownload/Catalogue.h"
#include "kva/platform/Process.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "KVADownload/UpdateService.h"
#include "UpdateServiceFixture.h"

namespace {

// Runs kva with `args` on the test's machine; its exit status and what it printed.
int Kva(const std::filesystem::path& state, std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), {"--state", state.string()});
    return plat::RunProcess(kvatest::BinaryPath("kva"), args, out);
}

class KvaVerbsTest : public kvatest::CUpdateServiceTest {};

TEST_F(KvaVerbsTest, CatalogueMakeGivesAServiceTheMachineTrusts) {
    const auto folder = State() / "svc";
    std::string out;
    ASSERT_EQ(Kva(State(), {"catalogue", "make", folder.string(), "--configure", "file://" + folder.string(),
                            "--inventory", "--catalogue-version", "4"},
                  &out),
              0)
        << out;
    EXPECT_NE(out.find("version 4"), std::string::npos) << out;
    // The key stays beside the folder, never inside what is served.
    EXPECT_TRUE(std::filesystem::exists(folder.string() + ".key.pem"));
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        EXPECT_NE(e.path().extension(), ".pem") << e.path();

    std::vector<_TOBEUPDATE_DRIVER_INFO> list;
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    ASSERT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK) << LastCatalogueRefusal();
    EXPECT_EQ(list.size(), 4u);  // two drivers, the BIOS and the PD firmware
    _TOBEUPDATE_DRIVER_INFO app;
    EXPECT_EQ(GetLanternaNewVersion("en-US", 2, app, 1), KVADL_OK);

    // Made again with the same key at a lower version: the machine refuses the rollback.
    out.clear();
    ASSERT_EQ(Kva(State(), {"catalogue", "make", folder.string(), "--catalogue-version", "3"}, &out), 0) << out;
    ASSERT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
    EXPECT_NE(LastCatalogueRefusal().find("older"), std::string::npos) << LastCatalogueRefusal();
}

TEST_F(KvaVerbsTest, HistoryListsFinishedUpdatesNewestFirst) {
    std::string out;
    ASSERT_EQ(Kva(State(), {"history"}, &out), 0);
    EXPECT_NE(out.find("no updates recorded"), std::string::npos) << out;
    finished_update_package a{"15", "1767225600", "", 4096, "1.0", "2.0", 1767225600};
    finished_update_package b{"23", "1767312000", "", 8192, "1.0.10", "1.0.12", 1767312000};
    ASSERT_TRUE(DriverMgmtDBHelper::GetInstance()->InsertFinishedUpdateItems(a));
    ASSERT_TRUE(DriverMgmtDBHelper::GetInstance()->InsertFinishedUpdateItems(b));
    out.clear();
    ASSERT_EQ(Kva(State(), {"history"}, &out), 0);
    const auto bios = out.find("1.0.12"), wlan = out.find("2.0");
    ASSERT_NE(bios, std::string::npos) << out;
    ASSERT_NE(wlan, std::string::npos) << out;
    EXPECT_LT(bios, wlan);
    EXPECT_NE(out.find("2026-01-02"), std::string::npos) << out;
}

}  // namespace
