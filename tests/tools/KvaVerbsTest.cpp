// `kva catalogue make` as a user runs it, on the test's machine.
#include "KVADownload/Catalogue.h"
#include "kva/platform/Process.h"
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

}  // namespace
