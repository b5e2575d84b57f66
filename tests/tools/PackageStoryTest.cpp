// The plain-words story of one package, told from log lines and install events.
#include <gtest/gtest.h>

#include "PackageStory.h"

namespace {

using kva::CLogLine;

std::vector<CLogLine> Log(const std::vector<std::pair<std::string, std::string>>& threadAndText) {
    std::vector<CLogLine> out;
    int second = 0;
    for (const auto& [thread, text] : threadAndText) {
        char time[32];
        std::snprintf(time, sizeof(time), "2026-12-06 10:%02d:%02d", second / 60, second % 60);
        ++second;
        out.push_back({time, thread, text});
    }
    return out;
}

std::vector<std::string> Texts(const kva::CPackageStory& story) {
    std::vector<std::string> out;
    for (const auto& l : story.Lines()) out.push_back(l.text + (l.times > 1 ? " x" + std::to_string(l.times) : ""));
    return out;
}

TEST(PackageStory, ReadsTheLogFormatTheSuiteWrites) {
    const CLogLine l = kva::ParseLogLine(
        "2026-12-06 00:43:06.700 WARN  [140468742817472] install driver successed:Audio (x) driver id14"
        "(CKVAServerQuery::IdleInstall) [InstallSequence.cpp:9]");
    EXPECT_EQ(l.time, "2026-12-06 00:43:06");
    EXPECT_EQ(l.thread, "140468742817472");
    EXPECT_EQ(l.text, "install driver successed:Audio (x) driver id14") << "only the method's brackets go";
    EXPECT_TRUE(kva::ParseLogLine("not a log line").time.empty());
}

TEST(PackageStory, ABatteryRefusalWithItsFiguresThenTheInstallWithItsExitCode) {
    kva::CPackageStory story("14", "Audio", {});
    story.ReadLog(Log({{"9", "Enter driver IdleInstall driverNameAudio 6.0"},
                       {"9", "IsMachineBatteryOk sys_percent = 29 config_percent = 30"},
                       {"9", "battery not ok"},
                       {"9", "Enter driver IdleInstall driverNameOther 2.0"},
                       {"9", "IsMachineBatteryOk sys_percent = 29 config_percent = 30"},
                       {"9", "Enter driver IdleInstall driverNameAudio 6.0"},
                       {"9", "IsMachineBatteryOk sys_percent = 28 config_percent = 30"},
                       {"9", "Enter driver IdleInstall driverNameAudio 6.0"},
                       {"9", "install driver successed:Audio driver id14"}}));
    story.ReadEvents({{1, 601002006, {"2006", "Other;2.0;5;0;0", "10.0"}},
                      {2, 601002006, {"2006", "Audio;6.0;5;0;3010", "1234567.8"}}});
    EXPECT_EQ(Texts(story), (std::vector<std::string>{
                                "install attempt",
                                "install refused: battery 29 % below the 30 % the configuration asks",
                                "install attempt",
                                "install refused: battery 28 % below the 30 % the configuration asks",
                                "install attempt",
                                "installed (installer exit code 3010, took 1234.6 s)",
                            }))
        << "the other package's refusal is not this one's";
}

TEST(PackageStory, DownloadFailuresDependenciesAndRepeatedPassesInWords) {
    kva::CPackageStory story("16", "Touchpad", {{"5", false}, {"6", true}});
    story.ReadLog(Log({{"1", "enter CheckDownLoad"},
                       {"1", "space not ok, need reserveSize 4096"},
                       {"2", "download of driver id 16 started, type 5"},
                       {"2", "download of driver id 16 failed: hash mismatch"},
                       {"3", "download of driver id 161 started, type 5"},
                       {"4", "CheckDepend,Touchpad"},
                       {"4", "CheckDepend,Touchpad"},
                       {"4", "Enter driver IdleInstall driverNameTouchpad 1.0"},
                       {"4", "m_IsFreeScene1 isFullscreen1"},
                       {"4", "Enter driver IdleInstall driverNameTouchpad 1.0"},
                       {"4", "install driver failed:Touchpad"}}));
    story.ReadEvents({{1, 601002005, {"2005", "Touchpad;1.0;5", "5", "-1"}}});
    EXPECT_EQ(Texts(story), (std::vector<std::string>{
                                "downloads held back: not enough free disk space (4096 bytes needed)",
                                "download started (idle)",
                                "download failed: hash mismatch",
                                "waits for package 5 to install first x2",
                                "install attempt",
                                "install refused: a full-screen application is in front",
                                "install attempt",
                                "install failed (setup result 5, installer exit code -1)",
                            }))
        << "package 161 is another package";
}

}  // namespace
