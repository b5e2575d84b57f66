// The gates every automatic download and install asks.
#include <fstream>
#include <thread>

#include "DriverFixture.h"
#include "Util/DE.h"
#include "Util/DriverInfoListMgr.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"

namespace {

using Err = UpdaterManager::enmUPDATER_ERROR_TYPE;

using PreconditionsTest = kvatest::CDriverTest;

TEST_F(PreconditionsTest, SpaceReserveIsThreeTimesThePackagesAndEqualityFails) {
    auto q = StartService();
    const std::vector<_TOBEUPDATE_DRIVER_INFO> list = {Package("1", "a", 100), Package("2", "b", 200),
                                                       Package("3", "c", 300)};
    plat::SetOverride("disk-free", "1801");
    EXPECT_TRUE(q->IsBatterySpaceOK(list, DRIVER_UPDATE_IDLE));
    EXPECT_TRUE(Events(7007).empty());
    plat::SetOverride("disk-free", "1800");
    EXPECT_FALSE(q->IsBatterySpaceOK(list, DRIVER_UPDATE_IDLE));
    ASSERT_EQ(Events(7007).size(), 1u);
    EXPECT_EQ(Events(7007)[0].values, (std::vector<std::string>{"7007", "5", "12", "2"}));
    plat::SetOverride("disk-free", "1");
    EXPECT_TRUE(q->IsBatterySpaceOK({}, DRIVER_UPDATE_FORCE)) << "an empty list reserves nothing";
}

TEST_F(PreconditionsTest, BatteryNeedsTenPercentForTheLowGateAndTheConfiguredShareOtherwise) {
    auto q = StartService();
    plat::SetOverride("battery", "10");
    EXPECT_TRUE(q->IsMachineBatteryOk(true));
    plat::SetOverride("battery", "9");
    EXPECT_FALSE(q->IsMachineBatteryOk(true));

    plat::SetOverride("battery", "29");
    EXPECT_FALSE(q->IsMachineBatteryOk(false)) << "30 % when nothing is configured";
    plat::SetOverride("battery", "30");
    EXPECT_TRUE(q->IsMachineBatteryOk(false));
    Configure({}, "batteryPercent=\"50\"");
    EXPECT_FALSE(q->IsMachineBatteryOk(false));
    plat::SetOverride("battery", "50");
    EXPECT_TRUE(q->IsMachineBatteryOk(false));
    plat::SetOverride("battery", "255");
    EXPECT_TRUE(q->IsMachineBatteryOk(false)) << "no battery at all";
}

TEST_F(PreconditionsTest, DependenciesBlockOnlyWhileTheirIdleEntryIsNotInstalled) {
    const auto cfg = CDriverInfoListMgr::FilePath();
    kvatest::WriteChangedFile(cfg, R"(<DriverCfg>
        <Driver id="14"><Depend id="1"/><Depend id="3"/></Driver></DriverCfg>)");
    auto q = StartService();
    EXPECT_FALSE(q->CheckDepend("14")) << "dependencies nobody offered do not block";
    EXPECT_FALSE(q->CheckDepend("20")) << "no dependencies";
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "1", Entry(PACKAGE_DOWNLOADED));
    EXPECT_FALSE(q->CheckDepend("14")) << "forced entries never block";
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "3", Entry(PACKAGE_DOWNLOADED));
    EXPECT_TRUE(q->CheckDepend("14"));
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "3", Entry(PACKAGE_INSTALLED));
    EXPECT_FALSE(q->CheckDepend("14"));
    std::filesystem::remove(cfg);
}

TEST_F(PreconditionsTest, NetworkDriversWaitWhileAnyPackageIsNewOrDownloading) {
    auto q = StartService();
    EXPECT_FALSE(q->CheckWLAN("15"));
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "14", Entry(PACKAGE_DOWNLOADED));
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "23", Entry(PACKAGE_DOWNLOAD_CANCELLED));
    EXPECT_FALSE(q->CheckWLAN("15"));
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "45", Entry(PACKAGE_DOWNLOADING));
    EXPECT_TRUE(q->CheckWLAN("15"));
    EXPECT_TRUE(q->CheckWLAN("1"));
    EXPECT_FALSE(q->CheckWLAN("14")) << "only network drivers wait";
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "45", Entry(PACKAGE_DOWNLOAD_FAILED));
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "16", Entry(PACKAGE_KNOWN));
    EXPECT_TRUE(q->CheckWLAN("15")) << "a package not started yet counts too";
}

TEST_F(PreconditionsTest, ManualStateAsksSynergyFirstThenWindowsThenSelfUpgrade) {
    auto q = StartService();
    Err error = UpdaterManager::UPDATER_ERROR_SPACE_OR_BATTERY;
    EXPECT_TRUE(q->CheckManualState(error));
    EXPECT_EQ(error, UpdaterManager::UPDATER_ERROR_NONE);

    const plat::HWND busyWnd = plat::CreateTopWindow({0, L"RECEIVE NOTIFY", L"", true, {}, 0});
    m_synergyInUse = true;
    EXPECT_FALSE(q->CheckManualState(error));
    EXPECT_EQ(error, UpdaterManager::UPDATER_ERROR_SYNERGY_IN_USE);
    m_synergyInUse = false;
    EXPECT_FALSE(q->CheckManualState(error));
    EXPECT_EQ(error, UpdaterManager::UPDATER_ERROR_APP_WINDOW_OPEN);
    plat::DestroyTopWindow(busyWnd);

    const plat::HWND upgradeWnd = plat::CreateTopWindow({0, L"MCSelfUpgradeWnd", L"", false, {}, 0});
    EXPECT_FALSE(q->CheckManualState(error)) << "a self-upgrade window counts even hidden";
    EXPECT_EQ(error, UpdaterManager::UPDATER_ERROR_MANUAL_UNFINISHED);
    plat::DestroyTopWindow(upgradeWnd);
    EXPECT_TRUE(q->CheckManualState(error));
    EXPECT_EQ(m_synergyAsked, 5) << "every question reached synergy";
}

TEST_F(PreconditionsTest, SynergyWithoutAnAnswerWaitsTenSecondsThenCountsAsFree) {
    auto q = StartService();
    m_synergy.reset();  // nobody answers
    std::atomic<int> result{-1};
    auto& clock = plat::CClock::Get();
    std::thread asker(clock.Tracked([&] { result = q->IsSynergyInUse() ? 1 : 0; }));
    ASSERT_TRUE(WaitUntilIdle());
    clock.Advance(std::chrono::milliseconds(9999));
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(result, -1) << "still waiting";
    clock.Advance(std::chrono::milliseconds(1));
    asker.join();
    EXPECT_EQ(result, 0);
}

TEST_F(PreconditionsTest, SwitchesFollowTheRegistryAndWriteTheirDefaults) {
    auto q = StartService();
    EXPECT_TRUE(q->IsDriverSwitchOpen());
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{0});
    EXPECT_FALSE(q->IsDriverSwitchOpen());

    // Missing: the edition decides (no "china" property, not beta: closed) and the answer is kept.
    plat::HKEY k = 0;
    ASSERT_EQ(plat::RegOpenKey(plat::kHKeyUsers, SettingKey(), plat::kKeyAllAccess, &k), plat::kErrorSuccess);
    plat::RegDeleteValue(k, L"checkupdate");
    plat::RegCloseKey(k);
    EXPECT_FALSE(q->IsAgreeSilentUpdate());
    EXPECT_FALSE(q->IsDriverSwitchOpen());
    plat::DWORD v = 7;
    EXPECT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), L"selfupdate", v));
    EXPECT_EQ(v, 0u);

    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{1});
    Agree(false);
    EXPECT_FALSE(q->IsDriverSwitchOpen()) << "no agreement, no idle updates";
    Agree(true);
    EXPECT_TRUE(q->IsDriverSwitchOpen());

    EXPECT_TRUE(q->IsUserSetForceUpdate()) << "missing: on, and written";
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"forceupdate", plat::DWORD{0});
    EXPECT_FALSE(q->IsUserSetForceUpdate());
}

TEST_F(PreconditionsTest, UpdatesDisabledInTheConfigurationCloseAnOpenSwitchAndSaySo) {
    Configure({}, "enable=\"0\"");
    auto q = StartService();
    ASSERT_TRUE(WaitUntilIdle());  // the query thread read the configuration
    EXPECT_FALSE(q->IsDriverSwitchOpen());
    EXPECT_FALSE(q->IsAgreeSilentUpdate()) << "selfupdate: missing, and the edition's default is off";
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"selfupdate", plat::DWORD{1});
    EXPECT_FALSE(q->IsAgreeSilentUpdate());
    EXPECT_EQ(Events(2009).size(), 2u);
}

}  // namespace
