// The decisions of a driver check: which packages are downloaded forced, which idle, which the
// user is offered, under the user's switches, the configuration and the edition.
#include <fstream>

#include <nlohmann/json.hpp>

#include "DriverFixture.h"
#include "KVADownload/Folders.h"
#include "driver_update/PackageTablesView.h"
#include "DuiLib/UIMainQueue.h"
#include "KVADownload/DriverDownloadManager.h"
#include "Util/DriverInfoListMgr.h"
#include "Util/DE.h"
#include "Util/KVASoftShelf.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "self_update/KVAAppUpdataXML.h"

namespace {

using kvatest::Eventually;

std::vector<std::string> Ids(const std::vector<_TOBEUPDATE_DRIVER_INFO>& list) {
    std::vector<std::string> ids;
    for (const auto& r : list) ids.push_back(r.strDriverID);
    return ids;
}

std::vector<std::string> Keys(const CKVAServerQuery::PackageTable& table) {
    std::vector<std::string> ids;
    for (const auto& [id, e] : table) ids.push_back(id);
    return ids;
}

class DriverCheckTest : public kvatest::CDriverTest {
protected:
    // A forced network driver with restart level 1, an idle audio driver whose name the
    // configuration allows, and an idle firmware it does not.
    void ThreePackages() {
        WriteCatalogue([](CCatalogueMaker& m) {
            m.AddPackage("driver", "15", "Wireless LAN Driver", "22.2", 2)["policy"]["restartLevel1"] = true;
            m.AddPackage("driver", "14", "Onboard Audio Driver", "6.0", 5);
            m.AddPackage("firmware", "45", "PD Controller Firmware", "3.4", 5);
        });
    }
    static void WriteShelf(const std::string& xml) { kvatest::WriteChangedFile(CKVASoftShelf::FilePath(), xml); }
    void TearDown() override {
        std::filesystem::remove(CKVASoftShelf::FilePath());
        kvatest::CDriverTest::TearDown();
    }
};

TEST_F(DriverCheckTest, ForcedAndIdleDownloadsStartAndOnlyWhatCannotBeIdleUpdatedIsOffered) {
    ThreePackages();
    const int noticesBefore = KVAAppUpdataXML::GetInstance()->NoticesRequested();
    auto q = StartService();
    ASSERT_TRUE(q->CheckSoftDriverVersion());

    EXPECT_EQ(Keys(q->ForceTable()), (std::vector<std::string>{"15"}));
    EXPECT_EQ(Keys(q->IdleTable()), (std::vector<std::string>{"14"}));
    EXPECT_EQ(Ids(q->SkipDrivers()), (std::vector<std::string>{"45"}));
    EXPECT_EQ(Ids(q->PopupDrivers()), (std::vector<std::string>{"45"})) << "the notice shows only the skipped ones";
    EXPECT_EQ(m_synergyAsked, 1) << "idle downloads ask the manual state first";

    ASSERT_TRUE(WaitDownloads());
    for (const auto& [table, id] : {std::pair{q->ForceTable(), "15"}, std::pair{q->IdleTable(), "14"}}) {
        const auto& e = table.at(id);
        EXPECT_EQ(e.state, PACKAGE_DOWNLOADED) << id;
        EXPECT_TRUE(e.downloadedThisRun) << id;
        EXPECT_TRUE(std::filesystem::exists(plat::ToHostPath(e.strInstallFile))) << e.strInstallFile;
    }
    EXPECT_TRUE(q->ForceTable().at("15").restartLevel1);

    ASSERT_TRUE(DuiLib::UIMainQueue::getInstance()->WaitIdle());
    EXPECT_EQ(KVAAppUpdataXML::GetInstance()->NoticesRequested(), noticesBefore + 1);
    EXPECT_EQ(Ids(KVAAppUpdataXML::GetInstance()->DriverList()), (std::vector<std::string>{"45"}));
    ASSERT_EQ(Events(6011).size(), 1u);
    EXPECT_EQ(Events(6011)[0].values, (std::vector<std::string>{"6011", "1", "1"}));
    EXPECT_EQ(Events(5006).size(), 1u);

    // A second check finds the packages already handled: nothing is queued again.
    ASSERT_TRUE(q->CheckSoftDriverVersion());
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_DOWNLOADED);
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_DOWNLOADED);
    EXPECT_FALSE(CDriverDownloadManager::GetInstance()->IsDownloading("14"));
}

TEST_F(DriverCheckTest, ToolsSeeTheTablesAsTheCheckAndTheDownloadsLeaveThem) {
    ThreePackages();
    auto q = StartService();
    ASSERT_TRUE(q->CheckSoftDriverVersion());
    ASSERT_TRUE(WaitDownloads());
    const auto file = plat::ToHostPath(GetAppDataFolder() + driver_update::kPackageTablesFile);
    // The last download callback writes the view after its change; wait for that one.
    nlohmann::json view;
    ASSERT_TRUE(Eventually([&] {
        std::ifstream in(file);
        view = nlohmann::json::parse(in, nullptr, false);
        return view.is_object() && view["forced"]["15"]["state"] == 3 && view["idle"]["14"]["state"] == 3;
    })) << view.dump();
    EXPECT_EQ(view["forced"]["15"]["installFile"], q->ForceTable().at("15").strInstallFile);
    EXPECT_EQ(view["idle"]["14"]["name"], "Onboard Audio Driver");
    ASSERT_EQ(view["notice"].size(), 1u);
    EXPECT_EQ(view["notice"][0]["id"], "45");
    EXPECT_EQ(view["notice"][0]["name"], "PD Controller Firmware");
}

TEST_F(DriverCheckTest, ClosedSwitchOffersEveryIdlePackageButTheInstalledOnes) {
    ThreePackages();
    Agree(false);
    auto q = StartService();
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "14", Entry(PACKAGE_INSTALLED));

    ASSERT_TRUE(q->CheckSoftDriverVersion());
    EXPECT_EQ(Ids(q->PopupDrivers()), (std::vector<std::string>{"45"})) << "14 is installed already";
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_INSTALLED);
    EXPECT_EQ(q->IdleTable().size(), 1u) << "nothing is sorted for idle download";
    EXPECT_EQ(Keys(q->ForceTable()), (std::vector<std::string>{"15"})) << "forced updates do not need the switch";
    ASSERT_EQ(Events(6001).size(), 1u);
    EXPECT_EQ(Events(6001)[0].values, (std::vector<std::string>{"6001", "DriverName All;5", "19", "10"}));
    EXPECT_EQ(m_synergyAsked, 0);
}

TEST_F(DriverCheckTest, UpdatesDisabledAreReportedForEachIdlePackageAsItIsSorted) {
    Configure({"Onboard Audio Driver"}, "enable=\"0\"");
    ThreePackages();
    auto q = StartService();
    ASSERT_TRUE(WaitUntilIdle());  // the query thread read the configuration
    ASSERT_TRUE(q->CheckSoftDriverVersion());
    // The switch is read for "14" and "45" as they are sorted, then once more before idle work.
    EXPECT_EQ(Events(2009).size(), 3u);
    EXPECT_EQ(Ids(q->PopupDrivers()), (std::vector<std::string>{"14", "45"}));
    EXPECT_TRUE(q->SkipDrivers().empty());
    EXPECT_TRUE(q->IdleTable().empty());
    ASSERT_TRUE(WaitDownloads());
}

TEST_F(DriverCheckTest, TheBiosMayGoIdleWhenAllowedAlthoughItsNameIsNotListed) {
    WriteCatalogue([](CCatalogueMaker& m) {
        auto& bios = m.AddPackage("firmware", "23", "BIOS", "1.0.12", 5);
        bios["policy"]["idleAllowed"] = true;
        bios["policy"]["restartLevel2"] = true;
        m.AddPackage("firmware", "24", "Camera Firmware", "2.0", 5)["policy"]["idleAllowed"] = true;
    });
    auto q = StartService();
    ASSERT_TRUE(q->CheckSoftDriverVersion());
    ASSERT_EQ(Keys(q->IdleTable()), (std::vector<std::string>{"23"})) << "idleAllowed counts for the BIOS only";
    EXPECT_EQ(q->IdleTable().at("23").GetRestartLevel(), RESTART_LEVEL_3);
    EXPECT_EQ(Ids(q->SkipDrivers()), (std::vector<std::string>{"24"}));
    ASSERT_TRUE(WaitDownloads());
}

TEST_F(DriverCheckTest, ForcedUpdatesOffInTheConfigurationEmptyTheForcedTable) {
    Configure({"Onboard Audio Driver"}, "forceUpdate=\"0\"");
    ThreePackages();
    auto q = StartService();
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "99", Entry(PACKAGE_DOWNLOADED));

    ASSERT_TRUE(q->CheckSoftDriverVersion());
    EXPECT_TRUE(q->ForceTable().empty());
    plat::DWORD user = 0;
    EXPECT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), L"forceupdate", user));
    EXPECT_EQ(user, 1u) << "the user's switch is still created";
    EXPECT_EQ(Events(6011)[0].values, (std::vector<std::string>{"6011", "0", "1"}));
    ASSERT_TRUE(WaitDownloads());
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_DOWNLOADED) << "idle work goes on";
}

TEST_F(DriverCheckTest, AnEditionWithoutPopUpsEndsTheCheckBeforeIdleWorkAndTheNotice) {
    WriteShelf("<softshelf/>");
    ThreePackages();
    auto q = StartService();
    EXPECT_FALSE(q->CheckSoftDriverVersion());
    ASSERT_TRUE(WaitDownloads());
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_DOWNLOADED) << "forced downloads do not depend on the edition";
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_KNOWN) << "sorted but not downloaded";
    EXPECT_EQ(Ids(q->PopupDrivers()), (std::vector<std::string>{"14", "45"}));
    EXPECT_EQ(Events(5006).size(), 0u);
}

TEST_F(DriverCheckTest, ShortDiskRefusesDownloadsAndTheNotice) {
    ThreePackages();
    plat::SetOverride("disk-free", "10");
    auto q = StartService();
    EXPECT_FALSE(q->CheckSoftDriverVersion());
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_KNOWN);
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_KNOWN);
    // Refused forced list, refused idle list, refused notice: three space reports.
    EXPECT_EQ(Events(7007).size(), 3u);
    EXPECT_EQ(Events(6001).size(), 2u);
    EXPECT_EQ(Events(5006).size(), 0u);
}

TEST_F(DriverCheckTest, AnUnsupportedModelIsNotChecked) {
    const auto cfg = CDriverInfoListMgr::FilePath();
    kvatest::WriteChangedFile(cfg, R"(<DriverCfg><SupportDevices>
        <Device product="Another Model"/></SupportDevices></DriverCfg>)");
    ThreePackages();
    auto q = StartService();
    EXPECT_FALSE(q->CheckSoftDriverVersion());
    EXPECT_TRUE(q->ForceTable().empty());
    EXPECT_TRUE(Events(6011).empty());
    std::filesystem::remove(cfg);
}

TEST_F(DriverCheckTest, WithTheMainWindowOpenTheApplicationManagerShowsThePopUp) {
    ThreePackages();
    plat::AddProcess(L"Pilotdeck.exe");
    plat::CreateTopWindow({0, L"Pilotdeck", L"", false, {}, 0});
    auto q = StartService();
    ASSERT_TRUE(q->CheckSoftDriverVersion());
    EXPECT_TRUE(m_appManager->WaitFor(0x50004));
    EXPECT_EQ(Events(5006).size(), 0u) << "the suite's own pop-up replaces the notice";
    ASSERT_TRUE(WaitDownloads());
}

TEST_F(DriverCheckTest, FullScreenKeepsTheNoticeBack) {
    ThreePackages();
    plat::SetOverride("screen", "1920x1080");
    plat::CreateTopWindow({0, L"Game", L"", true, {0, 0, 1920, 1080}, plat::AddProcess(L"game.exe")});
    auto q = StartService();
    EXPECT_FALSE(q->CheckSoftDriverVersion());
    EXPECT_EQ(Events(5006).size(), 0u);
    ASSERT_TRUE(WaitDownloads());
}

class DriverCheckRetryTest : public DriverCheckTest {
protected:
    // The round starts at once and waits to ask the service again; the reporting thread's 2 s pass.
    std::unique_ptr<CKVAServerQuery> StartRound() {
        Configure({"Onboard Audio Driver"}, "", "", 0);
        auto q = StartService();
        EXPECT_TRUE(WaitUntilIdle());
        Step(2000);
        return q;
    }
    void Step(std::uint32_t ms) {
        clock.Advance(std::chrono::milliseconds(ms));
        ASSERT_TRUE(WaitUntilIdle());
    }
    plat::CClock& clock = plat::CClock::Get();
};

TEST_F(DriverCheckRetryTest, TheServiceIsAskedEveryThirtySecondsUntilItAnswers) {
    auto q = StartRound();
    Step(28000);
    Step(30000);
    EXPECT_TRUE(Events(6011).empty()) << "three questions, no answer yet";
    ThreePackages();
    clock.Advance(std::chrono::milliseconds(29999));
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_TRUE(Events(6011).empty());
    clock.Advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(Eventually([] { return Events(6011).size() == 1; }));
    EXPECT_TRUE(Eventually([&q] {
        const auto table = q->ForceTable();
        return table.count("15") && table.at("15").state == PACKAGE_DOWNLOADED;
    })) << "the check went on and downloaded";
}

TEST_F(DriverCheckRetryTest, AfterSixtyFailuresTheCheckGoesOnWithNothing) {
    auto q = StartRound();
    Step(28000);
    for (int i = 2; i < 60; ++i) Step(30000);
    EXPECT_TRUE(Events(6011).empty()) << "the sixtieth wait is not over";
    clock.Advance(std::chrono::milliseconds(30000));
    ASSERT_TRUE(Eventually([] { return Events(6011).size() == 1; }));
    // The idle switch is on: an empty idle list still goes through the manual-state gate.
    ASSERT_TRUE(Eventually([this] { return m_synergyAsked == 1; }));
    EXPECT_TRUE(q->ForceTable().empty());
    EXPECT_TRUE(q->IdleTable().empty());
}

TEST_F(DriverCheckRetryTest, StoppingTheServiceEndsTheRetriesAtOnce) {
    auto q = StartRound();
    Step(28000);
    q.reset();  // no clock movement needed: the wait ends with the stop
    EXPECT_TRUE(Events(6011).empty());
}

}  // namespace
