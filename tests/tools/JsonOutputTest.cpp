// The record verbs in words and as `--json` (what scripts rely on).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "DataReport/BIDataReport.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "TestMachine.h"

namespace {

class KvaJsonTest : public kvatest::CTestMachine {
protected:
    std::string Kva(const std::string& args) {
        std::string out;
        EXPECT_EQ(kvatest::RunKva(State(), args, &out), 0) << out;
        return out;
    }
};

TEST_F(KvaJsonTest, HistoryIsNewestFirstInWordsAndAsOneArrayAndSaysWhenNothingHappened) {
    EXPECT_NE(Kva("history").find("no updates recorded"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(Kva("history --json")), nlohmann::json::array());
    finished_update_package a{"15", "", "", 4096, "1.0", "2.0", 1767225600};
    finished_update_package b{"23", "", "", 8192, "", "1.0.12", 1767312000};
    ASSERT_TRUE(DriverMgmtDBHelper::GetInstance()->InsertFinishedUpdateItems(a));
    ASSERT_TRUE(DriverMgmtDBHelper::GetInstance()->InsertFinishedUpdateItems(b));
    const std::string words = Kva("history");
    const auto bios = words.find("1.0.12"), wlan = words.find("2.0");
    ASSERT_NE(bios, std::string::npos) << words;
    ASSERT_NE(wlan, std::string::npos) << words;
    EXPECT_LT(bios, wlan);
    EXPECT_NE(words.find("2026-01-02"), std::string::npos) << words;

    const auto rows = nlohmann::json::parse(Kva("history --json"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["id"], "23");
    EXPECT_EQ(rows[0]["from"], "") << "nothing was installed before";
    EXPECT_EQ(rows[1]["size"], 4096);
    EXPECT_EQ(rows[1]["to"], "2.0");
}

TEST_F(KvaJsonTest, EventsAreOneObjectALineWithTheirShortNumber) {
    ASSERT_TRUE(CBIDataReport::GetInstance()->Report(601002006, {"2006", "Audio;1.2;5", "1234567.8"}));
    ASSERT_TRUE(CBIDataReport::GetInstance()->Report(619002012, {"1"}));
    std::istringstream lines(Kva("events --json"));
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(lines, line);) events.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["number"], 2006);
    EXPECT_EQ(events[0]["values"][2], "1234567.8");
    EXPECT_FALSE(events[1].contains("number")) << "only the service's own range has short numbers";
    EXPECT_TRUE(Kva("events --json --id 2012").empty()) << "2012 is 601002012, not the 619 range";
    const auto only = nlohmann::json::parse(Kva("events --json --id 2006"));
    EXPECT_EQ(only["eventId"], 601002006);
}

}  // namespace
