#include "DataReport/BIDataReport.h"
#include "TestMachine.h"
#include "kva/platform/Clock.h"

namespace {

class BIDataReportTest : public kvatest::CTestMachine {};

TEST_F(BIDataReportTest, EventsAreStoredInOrderWithTheirValuesAndFilterable) {
    auto* r = CBIDataReport::GetInstance();
    ASSERT_TRUE(r->Report(601003001, {"3001"}));
    ASSERT_TRUE(r->Report(601006001, {"6001", "DriverName Audio;5", "19", "1"}));
    ASSERT_TRUE(r->Report(601003001, {"3001", "bad \xff utf8"}));
    auto all = r->Events();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].eventId, 601006001);
    EXPECT_EQ(all[1].values, (std::vector<std::string>{"6001", "DriverName Audio;5", "19", "1"}));
    EXPECT_EQ(all[0].wallMs, plat::CClock::Get().WallMs());
    auto only = r->Events(601003001);
    ASSERT_EQ(only.size(), 2u);
    EXPECT_EQ(only[1].values[1], "bad \xef\xbf\xbd utf8");
    EXPECT_EQ(r->Events(std::nullopt, all[1].seq).size(), 1u);
}

TEST_F(BIDataReportTest, DurationIsKnownOnlyAfterAStartAndOnlyOnce) {
    auto* r = CBIDataReport::GetInstance();
    double ms = -1;
    EXPECT_FALSE(r->GetReportTypeDeltaTime(42, ms));
    r->SetReportTypeStartTime(42, plat::CClock::Get().PerformanceCounter());
    plat::CClock::Get().Advance(std::chrono::milliseconds(1500));
    ASSERT_TRUE(r->GetReportTypeDeltaTime(42, ms));
    EXPECT_DOUBLE_EQ(ms, 1500.0);
    EXPECT_FALSE(r->GetReportTypeDeltaTime(42, ms));
}

}  // namespace
