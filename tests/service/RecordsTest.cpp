#include "KVADownload/DriverMgmtDBHelper.h"
#include "ServerQueryFixture.h"
#include "Util/DataManager.h"
#include "install/DataEvents.h"
#include "install/DayStart.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"

namespace {

using Ms = std::chrono::milliseconds;

class RecordsTest : public kvatest::CServiceTest {};

std::vector<std::uint8_t> Utf16(const std::string& ascii) {
    std::vector<std::uint8_t> out;
    for (char c : ascii) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

TEST_F(RecordsTest, DataEventsCarryTheirNumberFirstAndOnlyBelow10000) {
    EXPECT_FALSE(ReportEvent(10000, "x"));
    EXPECT_TRUE(ReportEvent(3007, 3));
    EXPECT_TRUE(ReportEvent(6011, true, false));
    ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_NONE, DRIVER_UPDATE_IDLE, UpdaterManager::UPDATER_TRACK_CHECK, "Audio");
    ReportDriverUpdateError(UpdaterManager::UPDATER_ERROR_NOT_IDLE, DRIVER_UPDATE_IDLE, UpdaterManager::UPDATER_TRACK_CHECK,
                            "Audio");
    ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_NONE, DRIVER_UPDATE_FORCE, UpdaterManager::UPDATER_TRACK_INSTALL);
    ReportCorvellaUpdateError(UpdaterManager::UPDATER_ERROR_DISK_SPACE, DRIVER_UPDATE_FORCE,
                              UpdaterManager::UPDATER_TRACK_CONTINUE_APP_DOWNLOAD);

    auto all = CBIDataReport::GetInstance()->Events();
    ASSERT_EQ(all.size(), 4u) << "nothing for 10000 and nothing for error 0";
    EXPECT_EQ(all[0].eventId, 601003007);
    EXPECT_EQ(all[0].values, (std::vector<std::string>{"3007", "3"}));
    EXPECT_EQ(all[1].values, (std::vector<std::string>{"6011", "1", "0"}));
    EXPECT_EQ(all[2].values, (std::vector<std::string>{"6001", "DriverName Audio;5", "19", "8"}));
    EXPECT_EQ(all[3].values, (std::vector<std::string>{"3011", "2", "18", "2"}));
}

TEST_F(RecordsTest, InstallDurationIsReportedOnlyForAStartedTimerOfThatPackageAndType) {
    EXPECT_EQ(InstallTimerKey("23", 5), (static_cast<std::uint64_t>((23u << 8) + 5) << 32) | 601002006u);
    EXPECT_EQ(InstallTimerKey("abc", 2) >> 32, 2u) << "atoi of a non-number is 0";
    EXPECT_FALSE(ReportInstallTimer("23", 5, "Audio;2.0;5;1;0"));
    StartInstallTimer("23", 5);
    plat::CClock::Get().Advance(Ms(2500));
    EXPECT_FALSE(ReportInstallTimer("23", 2, "other type")) << "the key includes the update type";
    EXPECT_TRUE(ReportInstallTimer("23", 5, "Audio;2.0;5;1;0"));
    auto events = Events(2006);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].values, (std::vector<std::string>{"2006", "Audio;2.0;5;1;0", "2500"}));
}

TEST_F(RecordsTest, HistoryRowsStartTheirDayAtLocalMidnight) {
    // 23:30 in a +8 zone is 15:30 UTC; the day started 23 h 30 min earlier.
    const std::int64_t now = 1767225600 + 15 * 3600 + 1800;
    EXPECT_EQ(DayStartOf(now, 8), now - (23 * 3600 + 1800));
    EXPECT_EQ(DayStartOf(now, 0), now - (15 * 3600 + 1800));
    EXPECT_EQ(DayStartOf(now, -5), now - (10 * 3600 + 1800));

    plat::CClock::Get().UseFake(now * 1000);
    plat::SetOverride("timezone", "8");
    CKVAServerQuery q;
    q.InsertToFinishUpdateDB(123456, "23", "1.0", "2.0");
    auto rows = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].strDriverID, "23");
    EXPECT_EQ(rows[0].FileSize, 123456);
    EXPECT_EQ(rows[0].strCurVersion, "1.0");
    EXPECT_EQ(rows[0].strNextVersion, "2.0");
    EXPECT_EQ(rows[0].dayStart, now - (23 * 3600 + 1800));
    EXPECT_EQ(rows[0].strDayStart, std::to_string(rows[0].dayStart));
}

TEST_F(RecordsTest, DoctorRowsCountWhatIsLeftInEightBits) {
    plat::SetOverride("language", "en-US");
    CKVAServerQuery q;
    q.UpdateDoctorDB(50);
    q.UpdateDoctorDB(0);
    std::vector<DataManager::Row> rows;
    ASSERT_TRUE(DataManager::Instance()->Get("select * from TABLE_DOCTOR_HISTORY", 1, rows));
    ASSERT_EQ(rows.size(), 2u);
    auto num = [](const linb::any& a) { return linb::any_cast<std::int64_t>(a); };
    auto bytes = [](const linb::any& a) { return linb::any_cast<std::vector<std::uint8_t>>(a); };
    EXPECT_EQ(num(rows[0][0]), 0xF0000);
    EXPECT_EQ(bytes(rows[0][1]), Utf16("IDS_DRVUP_M04_S01"));
    EXPECT_EQ(num(rows[0][2]), 6);
    EXPECT_EQ(num(rows[0][3]), 44) << "6 x 50 = 300 wraps to 44";
    EXPECT_EQ(num(rows[0][4]), 50);
    EXPECT_EQ(bytes(rows[0][5]), Utf16("IDS_DOCTOR_DEVICE_ABNORMAL_DESC"));
    EXPECT_EQ(num(rows[0][6]), plat::CClock::Get().WallMs());

    EXPECT_EQ(num(rows[1][2]), 1);
    EXPECT_EQ(num(rows[1][3]), 0);
    EXPECT_EQ(bytes(rows[1][5]), Utf16("No driver updates installed yet"));
}

}  // namespace
