#include "DataReport/BIDataReport.h"
#include "TestMachine.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"

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

// The writer keeps its statement between events; it must still follow the process to another
// machine and back.
TEST_F(BIDataReportTest, EventsLandInTheMachineOpenAtTheTime) {
    auto* r = CBIDataReport::GetInstance();
    ASSERT_TRUE(r->Report(601003001, {"first"}));
    const auto other = State() / "other-machine";
    ASSERT_TRUE(plat::OpenMachine(other));
    ASSERT_TRUE(r->Report(601003002, {"elsewhere"}));
    auto there = r->Events();
    ASSERT_EQ(there.size(), 1u);
    EXPECT_EQ(there[0].values, std::vector<std::string>{"elsewhere"});

    ASSERT_TRUE(plat::OpenMachine(State()));
    ASSERT_TRUE(r->Report(601003003, {"back"}));
    auto here = r->Events();
    ASSERT_EQ(here.size(), 2u);
    EXPECT_EQ(here[0].values, std::vector<std::string>{"first"});
    EXPECT_EQ(here[1].values, std::vector<std::string>{"back"});
}

}  // namespace
