// One install at a time: every refusal of the gates with its report, and every kind of answer
// the installer may give.
#include <thread>

#include "InstallFixture.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "KVADownload/Folders.h"
#include "Util/DE.h"
#include "install/DataEvents.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"

namespace {

using kvatest::Eventually;
using Ms = std::chrono::milliseconds;

class IdleInstallTest : public kvatest::CInstallTest {
protected:
    bool Install(CKVAServerQuery& q, _DRIVER_UPDATE_TYPE type, const std::string& id) {
        const auto table = type == DRIVER_UPDATE_IDLE ? q.IdleTable() : q.ForceTable();
        const auto& e = table.at(id);
        return q.IdleInstall(e.strInstallFile, id, e.strDriverName, e.strNextVersionID, e.strNextVersion, type);
    }
};

TEST_F(IdleInstallTest, EveryGateRefusesWithItsCodeAndLeavesThePackageReady) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_IDLE, "14", "Audio");
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wlan");
    plat::SetOverride("screen", "1920x1080");

    struct CCase {
        const char* what;
        _DRIVER_UPDATE_TYPE type;
        std::function<void()> set, reset;
        std::string report;
    };
    plat::HWND window = 0;
    const std::vector<CCase> cases = {
        {"battery", DRIVER_UPDATE_FORCE, [] { plat::SetOverride("battery", "5"); },
         [] { plat::ClearOverride("battery"); }, "DriverName Wlan;2|21|1"},
        {"suite window", DRIVER_UPDATE_FORCE,
         [&] { window = plat::CreateTopWindow({0, L"FileTransferDialog", L"", true, {0, 0, 10, 10}, 0}); },
         [&] { plat::DestroyTopWindow(window); }, "DriverName Wlan;2|21|3"},
        {"switch", DRIVER_UPDATE_IDLE,
         [&] { DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{0}); },
         [&] { DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", plat::DWORD{1}); },
         "DriverName All;5|21|10"},
        {"full screen", DRIVER_UPDATE_IDLE,
         [&] { window = plat::CreateTopWindow({0, L"Game", L"", true, {0, 0, 1920, 1080}, plat::AddProcess(L"game.exe")}); },
         [&] { plat::DestroyTopWindow(window); }, "DriverName Audio;5|21|9"},
        {"synergy", DRIVER_UPDATE_IDLE, [&] { m_synergyInUse = true; }, [&] { m_synergyInUse = false; },
         "DriverName Audio;5|21|4"},
        {"meeting", DRIVER_UPDATE_IDLE, [] { plat::AddProcess(L"WebMetting.exe"); },
         [] { plat::RemoveProcess(L"WebMetting.exe"); }, "DriverName Audio;5|21|13"},
    };
    for (const auto& c : cases) {
        c.set();
        const auto before = EventTexts(6001).size();
        EXPECT_FALSE(Install(*q, c.type, c.type == DRIVER_UPDATE_IDLE ? "14" : "15")) << c.what;
        const auto reports = EventTexts(6001);
        ASSERT_EQ(reports.size(), before + 1) << c.what;
        EXPECT_EQ(reports.back(), c.report) << c.what;
        c.reset();
    }
    EXPECT_TRUE(m_installer->Requests().empty());
    EXPECT_EQ(q->IdleTable().at("14").state, PACKAGE_DOWNLOADED);
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_DOWNLOADED);

    // With every gate open both go through.
    EXPECT_TRUE(Install(*q, DRIVER_UPDATE_IDLE, "14"));
    EXPECT_TRUE(Install(*q, DRIVER_UPDATE_FORCE, "15"));
    EXPECT_EQ(m_installer->RequestedIds(), (std::vector<std::string>{"14", "15"}));
}

TEST_F(IdleInstallTest, TheForcedSwitchOffEmptiesTheForcedTableWithOnlyItsGateEvent) {
    Configure({"Onboard Audio Driver"}, "forceUpdate=\"0\"");
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wlan");
    Ready(*q, DRIVER_UPDATE_FORCE, "16", "Bluetooth");
    Ready(*q, DRIVER_UPDATE_IDLE, "14", "Audio");
    EXPECT_FALSE(Install(*q, DRIVER_UPDATE_FORCE, "15"));
    EXPECT_TRUE(q->ForceTable().empty());
    EXPECT_EQ(q->IdleTable().size(), 1u);
    EXPECT_EQ(EventTexts(6011), (std::vector<std::string>{"0|1"}));
    EXPECT_TRUE(EventTexts(6001).empty());

    // The user's own switch does the same.
    Configure({"Onboard Audio Driver"});
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"forceupdate", plat::DWORD{0});
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wlan");
    EXPECT_FALSE(Install(*q, DRIVER_UPDATE_FORCE, "15"));
    EXPECT_TRUE(q->ForceTable().empty());
    EXPECT_EQ(EventTexts(6011).back(), "1|0");
    EXPECT_TRUE(m_installer->Requests().empty());
}

TEST_F(IdleInstallTest, AFoundDownloadIsReportedLateOnceAtInstall) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_IDLE, "14", "Audio", false);
    Ready(*q, DRIVER_UPDATE_IDLE, "16", "Bluetooth", true);
    EXPECT_TRUE(Install(*q, DRIVER_UPDATE_IDLE, "14"));
    EXPECT_TRUE(Install(*q, DRIVER_UPDATE_IDLE, "16"));
    EXPECT_EQ(EventTexts(7005), (std::vector<std::string>{"Audio;1.0.14; 5"}));
    EXPECT_EQ(EventTexts(7003), (std::vector<std::string>{"Audio;1.0.14;5|4096"}));
}

TEST_F(IdleInstallTest, InstallerAnswersOfEveryShape) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wlan");

    std::int32_t exitCode = 77;
    std::size_t answered = 0;
    for (const std::string& wrongSize : {std::string(4, '\0'), SetupAnswerBytes(0, 0) + "tail", std::string()}) {
        m_installer->Answer(wrongSize);
        EXPECT_EQ(q->PostSetupDriverMsg("15", "C:\\x\\setup.exe", exitCode, 2), 0xFFFFFFFFu) << wrongSize.size();
        EXPECT_EQ(exitCode, 77);
        const auto reports = EventTexts(6013);
        ASSERT_EQ(reports.size(), ++answered);
        EXPECT_EQ(reports.back().rfind("SetUpDriver:PostSetupDriverMsg invalidmsg:length,15|", 0), 0u);
    }

    m_installer->AnswerResult(5, 1603);
    EXPECT_EQ(q->PostSetupDriverMsg("15", "C:\\x\\setup.exe", exitCode, 2), 5u);
    EXPECT_EQ(exitCode, 1603);
    EXPECT_TRUE(DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems().empty());

    m_installer->AnswerResult(0, 3010);
    EXPECT_EQ(q->PostSetupDriverMsg("15", "C:\\x\\setup.exe", exitCode, 2), 0u);
    EXPECT_EQ(exitCode, 3010);
    const auto rows = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].strDriverID, "15");
    EXPECT_EQ(rows[0].strNextVersion, "1.0.15");
    EXPECT_EQ(rows[0].FileSize, 4096);

    // No description of the package: nothing is sent at all.
    EXPECT_EQ(q->PostSetupDriverMsg("99", "C:\\x\\setup.exe", exitCode, 2), 0xFFFFFFFFu);
    EXPECT_EQ(m_installer->Requests().size(), 5u);
}

TEST_F(IdleInstallTest, AnInstallerThatNeverAnswersGivesUpAfterTwentyMinutes) {
    auto q = StartService();
    Ready(*q, DRIVER_UPDATE_FORCE, "15", "Wlan");
    m_installer->Answer(std::nullopt);
    auto& clock = plat::CClock::Get();
    std::int32_t exitCode = -1;
    std::uint32_t rc = 0;
    std::thread asker(clock.Tracked([&] { rc = q->PostSetupDriverMsg("15", "C:\\x\\setup.exe", exitCode, 2); }));
    ASSERT_TRUE(m_installer->WaitForRequests(1));
    // Counting sleepers could mistake a notice timer for the request's wait and move the clock
    // before the request waits; idle means the asker too is asleep on its time-out.
    ASSERT_TRUE(clock.WaitUntilIdle());
    clock.Advance(Ms(1199999));
    EXPECT_TRUE(EventTexts(6013).empty());
    clock.Advance(Ms(1));
    asker.join();
    EXPECT_EQ(rc, 0xFFFFFFFFu);
    EXPECT_EQ(EventTexts(6013).size(), 1u);
    EXPECT_EQ(EventTexts(6013).back().rfind("SetUpDriver:PostSetupDriverMsg,15|", 0), 0u);
}

TEST_F(IdleInstallTest, TheRequestCarriesThisModelsProcessesAndThePackagesLogFolders) {
    plat::SetOverride("product", "Model 7");
    auto q = StartService();
    _TOBEUPDATE_DRIVER_INFO record = Package("15", "Wlan", 10, 2);
    record.isInvolovedA = true;
    record.policy.processList = {"C:\\logs\\wlan"};
    record.policy.textByKey["Model 7"] = {{"a.exe", "first"}, {"", "no name"}, {"b.exe", ""}, {"c.exe", "third"}};
    record.policy.textByKey["Other"] = {{"x.exe", "other model"}};
    ASSERT_TRUE(CDetectedFolderMgr("15", 1).WriteDrvInfo(record));
    _TOBEUPDATE_DRIVER_INFO info;
    std::string text;
    q->GetMonitorProcessMsg(info, "C:\\d\\setup.exe", "15", 5, text);
    const auto msg = _SETUP_DRIVER_MSG::FromJson(text);
    EXPECT_EQ(msg.process_list, (std::vector<std::pair<std::string, std::string>>{{"a.exe", "first"}, {"c.exe", "third"}}));
    EXPECT_EQ(msg.logdir_list, (std::vector<std::string>{"C:\\logs\\wlan"}));
    EXPECT_EQ(msg.isInvolovedA, 1);
    EXPECT_EQ(msg.updatetype, 5);
    EXPECT_EQ(msg.file, "C:\\d\\setup.exe");
    EXPECT_EQ(msg.fileSize, 0);
    EXPECT_EQ(text.find("\"id\":\"15\""), 1u) << "members in their order: " << text;
}

TEST(DataEventText, ElapsedTimesKeepTheirFractionAtAnySize) {
    EXPECT_EQ(kva_events::ToText(1234567.8), "1234567.8");
    EXPECT_EQ(kva_events::ToText(98765432109.25), "98765432109.25");
    EXPECT_EQ(kva_events::ToText(0.5), "0.5");
}

}  // namespace
