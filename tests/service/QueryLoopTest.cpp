#include <fstream>

#include "KVADownload/Folders.h"
#include "ServerQueryFixture.h"
#include "Util/DE.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace {

using kvatest::Eventually;
using Ms = std::chrono::milliseconds;
constexpr std::int64_t kSettingsEvent = 619002012;

class QueryLoopTest : public kvatest::CServiceTest {
protected:
    plat::CClock& clock = plat::CClock::Get();
    static std::size_t SettingsEvents() { return CBIDataReport::GetInstance()->Events(kSettingsEvent).size(); }
};

TEST_F(QueryLoopTest, StartDelayIsCappedThenOneTimeStepsThenOneRoundPerPeriod) {
    kvatest::WriteCommonConfig(ServiceUrl(), 30, 60);
    WriteCatalogue();  // the driver check finds the service at once and retries nothing
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{1});
    auto q = Start();
    ASSERT_TRUE(Eventually([] { return plat::FindTopWindow(L"UpdateTipsUI") && plat::FindTopWindow(L"KVASilentTip"); }));
    const plat::HWND tips = plat::FindTopWindow(L"UpdateTipsUI");
    EXPECT_FALSE(plat::IsWindowShown(tips));
    EXPECT_EQ(plat::GetWindowProperty(tips, "TipsWndMutex"), 1);

    // The reporting thread waits 2 s, the query thread its start delay.
    ASSERT_TRUE(WaitUntilIdle());
    clock.Advance(Ms(2000));
    ASSERT_TRUE(Eventually([] { return Events(4016).size() == 1; })) << "the OTA identifier is reported once";

    clock.Advance(Ms(5 * 60000 - 2000 - 1));  // a 30-minute setting waits 5 minutes
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(SettingsEvents(), 0u);
    clock.Advance(Ms(1));
    ASSERT_TRUE(Eventually([] { return Events(3001).size() == 1; }));
    auto settings = CBIDataReport::GetInstance()->Events(kSettingsEvent);
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[0].values, (std::vector<std::string>{"0", "0"}));  // selfupdate absent
    EXPECT_EQ(settings[1].values, (std::vector<std::string>{"1", "1"}));  // checkupdate 1

    // The query thread waits for the period, the install thread for its next pass.
    ASSERT_TRUE(WaitUntilIdle());
    for (int minute = 0; minute < 59; ++minute) {
        clock.Advance(Ms(60000));
        ASSERT_TRUE(WaitUntilIdle());
    }
    clock.Advance(Ms(59999));
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(Events(3001).size(), 1u);
    clock.Advance(Ms(1));
    ASSERT_TRUE(Eventually([] { return Events(3001).size() == 2; }));

    q.reset();  // ends the period wait at once
    EXPECT_FALSE(plat::FindTopWindow(L"UpdateTipsUI"));
    EXPECT_EQ(Events(3001).size(), 2u);
}

TEST_F(QueryLoopTest, NoDelayAtZeroAndAStopDuringTheDelayRunsTheOneTimeStepsButNoRound) {
    kvatest::WriteCommonConfig(ServiceUrl(), 0, 60);
    {
        auto q = Start();
        ASSERT_TRUE(Eventually([] { return Events(3001).size() == 1; }));
        EXPECT_EQ(SettingsEvents(), 2u);
    }
    kvatest::WriteCommonConfig(ServiceUrl(), 5, 60);
    {
        auto q = Start();
        ASSERT_TRUE(WaitUntilIdle());
    }  // destroyed in the start delay
    EXPECT_EQ(SettingsEvents(), 4u);
    EXPECT_EQ(Events(3001).size(), 1u);
}

TEST_F(QueryLoopTest, AFinishedApplicationUpgradeIsReportedOnceAndOnlyMarkedWhenTheReportWent) {
    const std::wstring key = SettingKey();
    DE::Registry::SetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Inventory\\0", L"Version", std::wstring(L"6.0.1"));
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"lastversion", std::wstring(L"5.9"));
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"nextversion", std::wstring(L"6.0.1"));
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"nextversionId", std::wstring(L"v601"));
    DE::Registry::SetValue(plat::kHKeyUsers, key, L"updatetype", plat::DWORD{2});
    const auto installedNote = plat::ToHostPath(GetAppDataFolder() + "\\DriverUpgrade\\Update\\Installed\\0.xml");
    auto lastVersion = [&] {
        std::wstring v;
        DE::Registry::GetValue(plat::kHKeyUsers, key, L"lastversion", v);
        return v;
    };

    // No service configured: the report fails, so the upgrade is not marked as reported.
    kvatest::WriteCommonConfig("", 0, 60);
    Start().reset();
    ASSERT_EQ(Events(4013).size(), 1u);
    EXPECT_EQ(Events(4013)[0].values, (std::vector<std::string>{"4013", "5.9;6.0.1;2"}));
    EXPECT_EQ(lastVersion(), L"5.9");
    EXPECT_TRUE(std::filesystem::exists(installedNote)) << "the upgrade is noted either way";

    std::filesystem::remove(installedNote);
    kvatest::WriteCommonConfig(ServiceUrl(), 0, 60);
    Start().reset();
    EXPECT_EQ(Events(4013).size(), 2u);
    EXPECT_EQ(lastVersion(), L"6.0.1");
    EXPECT_TRUE(std::filesystem::exists(installedNote));
    std::ifstream reports(ServiceFolder() / "reports" / "upgrade-status.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(reports, line));
    EXPECT_NE(line.find("\"v601\""), std::string::npos) << line;

    Start().reset();
    EXPECT_EQ(Events(4013).size(), 2u) << "reported once";
}

TEST_F(QueryLoopTest, EarlierDownloadsAreClearedButOtherPackagesKept) {
    DE::Registry::SetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Inventory\\0", L"Version", std::wstring(L"6.0.1"));
    const std::string d = GetAppDataFolder();
    const std::vector<std::string> cleared = {d + "\\DriverUpgrade\\Detected\\12",
                                              d + "\\DriverUpgrade\\Downloaded\\12_1.0",
                                              d + "\\DriverUpgrade\\Update\\Downloaded\\0_6.0.1"};
    const std::string kept = d + "\\DriverUpgrade\\Update\\Downloaded\\23_2.0";
    for (const auto& f : cleared) std::filesystem::create_directories(plat::ToHostPath(f));
    std::filesystem::create_directories(plat::ToHostPath(kept));
    std::ofstream(plat::ToHostPath(kept + "\\update.zip")) << "zip";

    kvatest::WriteCommonConfig(ServiceUrl(), 0, 60);
    Start().reset();
    for (const auto& f : cleared) EXPECT_FALSE(std::filesystem::exists(plat::ToHostPath(f))) << f;
    EXPECT_TRUE(std::filesystem::exists(plat::ToHostPath(kept + "\\update.zip")));
    EXPECT_TRUE(std::filesystem::exists(plat::ToHostPath(d)));
}

TEST_F(QueryLoopTest, OtaIdentifierIsReportedOncePerProfile) {
    kvatest::WriteCommonConfig(ServiceUrl(), 5, 60);
    for (int run = 0; run < 2; ++run) {
        auto q = Start();
        ASSERT_TRUE(WaitUntilIdle());
        clock.Advance(Ms(2000));
        ASSERT_TRUE(WaitUntilIdle());
        q.reset();  // joins the reporting thread
    }
    auto events = Events(4016);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].values.size(), 2u);
    EXPECT_EQ(events[0].values[1].size(), 32u) << "the identifier";
    std::wstring flag;
    EXPECT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, UserKey(L"\\SOFTWARE\\Vantor\\Pilotdeck\\DriverUp"),
                                       L"ReportQotaId", flag));
    EXPECT_EQ(flag, L"1");
}

TEST_F(QueryLoopTest, BootAndCheckTimeQueriesFollowTheBootAndTheMessageCentre) {
    kvatest::WriteCommonConfig(ServiceUrl(), 5, 60);
    CKVAServerQuery q;  // not started: the queries are the host's
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 1) << "no user key yet";
    DE::Registry::SetValue(plat::kHKeyUsers, UserKey(L"\\SOFTWARE\\Vantor\\Pilotdeck"), L"x", plat::DWORD{1});
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 1) << "first call of the boot";
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 1) << "no message-centre check known";
    ASSERT_TRUE(CLastCheckTimeMgr().UpdateMessageCenterCheckTime());
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 0);
    clock.Advance(Ms(3599 * 1000));
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 0);
    clock.Advance(Ms(1000));
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 1);
    ASSERT_TRUE(CLastCheckTimeMgr().UpdateMessageCenterCheckTime());
    plat::SimulateReboot();
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 1) << "first call after a reboot";
    EXPECT_EQ(q.IsNeedCheckDrvUpdate(), 0);

    EXPECT_TRUE(q.IsCurrentBootStrap());
    EXPECT_FALSE(q.IsCurrentBootStrap());
    plat::SimulateReboot();
    EXPECT_TRUE(q.IsCurrentBootStrap());

    EXPECT_EQ(q.CheckUpdateScene(), 1);
    plat::AddProcess(L"LogonUI.exe");
    EXPECT_EQ(q.CheckUpdateScene(), 0);
}

}  // namespace
