#include "TestMachine.h"
#include "Util/CorvellaVersionMgr.h"
#include "Util/DE.h"
#include "Util/DataManager.h"
#include "Util/SystemInfo.h"
#include "Util/WMI.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"

namespace {

class UtilTest : public kvatest::CTestMachine {};

TEST_F(UtilTest, RegistryHelpersCreateOnWriteAndFailCleanlyOnRead) {
    const std::wstring key = VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting";
    plat::DWORD v = 99;
    EXPECT_FALSE(DE::Registry::GetValue(plat::kHKeyUsers, key, L"checkupdate", v));
    EXPECT_EQ(v, 99u) << "a failed read leaves the output alone";
    ASSERT_TRUE(DE::Registry::SetValue(plat::kHKeyUsers, key, L"checkupdate", plat::DWORD{1}));
    ASSERT_TRUE(DE::Registry::SetValue(plat::kHKeyUsers, key, L"lastversion", std::wstring(L"5.0.1")));
    EXPECT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, key, L"checkupdate", v));
    EXPECT_EQ(v, 1u);
    std::wstring s;
    EXPECT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, key, L"lastversion", s, plat::kKeyRead));
    EXPECT_EQ(s, L"5.0.1");
    EXPECT_FALSE(DE::Registry::SetValue(plat::kHKeyUsers, key, L"x", plat::DWORD{1}, plat::kKeyRead))
        << "a read-only open cannot write";
}

TEST_F(UtilTest, DataManagerKeepsTypedRowsAndRefusesWhatIsNotATableOrQuery) {
    auto* dm = DataManager::Instance();
    std::vector<DataManager::Row> rows;
    ASSERT_TRUE(dm->Get("select * from TABLE_DRIVER_HISTORY", 1, rows));
    EXPECT_TRUE(rows.empty());

    const std::vector<std::uint8_t> utf16{'I', 0, 'D', 0};
    ASSERT_TRUE(dm->Put("TABLE_DOCTOR_HISTORY", {std::int64_t{0xF0000}, utf16, 6, 2.5, std::string("x")}));
    ASSERT_TRUE(dm->Put("TABLE_DOCTOR_HISTORY", {std::int64_t{2}, utf16, 1, 0.0, std::string("y")}));
    ASSERT_TRUE(dm->Get("select * from TABLE_DOCTOR_HISTORY", 1, rows));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(linb::any_cast<std::int64_t>(rows[0][0]), 0xF0000);
    EXPECT_EQ(linb::any_cast<std::vector<std::uint8_t>>(rows[0][1]), utf16);
    EXPECT_EQ(linb::any_cast<double>(rows[0][3]), 2.5);
    ASSERT_TRUE(dm->Get("SELECT * FROM TABLE_DOCTOR_HISTORY", 0, rows));
    EXPECT_EQ(linb::any_cast<std::string>(rows[0][4]), "y") << "order 0 is newest first";

    EXPECT_FALSE(dm->Put("T; DROP TABLE TABLE_DOCTOR_HISTORY", {1}));
    EXPECT_FALSE(dm->Put("TABLE_DOCTOR_HISTORY", {1, 2}));  // wrong width
    EXPECT_FALSE(dm->Put("TABLE_X", {linb::any(3.0f)}));    // unsupported type
    EXPECT_FALSE(dm->Get("delete from TABLE_DOCTOR_HISTORY", 1, rows));
    ASSERT_TRUE(dm->Get("select * from TABLE_DOCTOR_HISTORY", 1, rows));
    EXPECT_EQ(rows.size(), 2u);
}

TEST_F(UtilTest, TimeFactsComeFromTheClockAndTheMachine) {
    plat::CClock::Get().UseFake(1767225600000);  // 2026-01-01T00:00:00Z
    EXPECT_EQ(DE::Now(), 1767225600);
    EXPECT_EQ(DE::FormatDateTime(DE::Now() + 3661), "2026-01-01 01:01:01");
    plat::SetOverride("timezone", "8");
    EXPECT_EQ(SystemInfo::GetTimeZone(), 8);
    plat::SetOverride("language", "zh-CN");
    EXPECT_EQ(SystemInfo::GetUserLanguage(), L"zh-CN");
}

TEST_F(UtilTest, LogonScreenProbeAndApplicationVersionReadTheMachine) {
    CWMI wmi("ROOT\\CIMV2");
    const std::string probe = "SELECT Name FROM Win32_Process WHERE Name = 'LogonUI.exe'";
    EXPECT_EQ(wmi.QueryValue(probe, "Name"), "");
    plat::AddProcess(L"LogonUI.exe");
    EXPECT_EQ(wmi.QueryValue(probe, "Name"), "LogonUI.exe");
    std::vector<std::map<std::string, std::string>> rows;
    EXPECT_FALSE(wmi.Query("SELECT * FROM Win32_BIOS", rows));
    EXPECT_FALSE(CWMI("ROOT\\WMI").Query(probe, rows));

    EXPECT_EQ(CCorvellaVersionMgr::getInstance().GetAppVersion(), "");
    DE::Registry::SetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Inventory\\0", L"Version", std::wstring(L"6.2.0.1"));
    EXPECT_EQ(CCorvellaVersionMgr::getInstance().GetAppVersion(), "6.2.0.1");
}

}  // namespace
