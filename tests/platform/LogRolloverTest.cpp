// The log files roll over by size: the appender counts what it writes instead of asking the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestMachine.h"
#include "kva/platform/Log.h"

namespace kvatest {
namespace {

class LogRolloverTest : public CTestMachine {};

std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A file is rolled once it passes its size, counting what it held before this process opened
// it; every line lands once, in order.
TEST_F(LogRolloverTest, AFileRollsOverPastItsSizeWithWhatItHeldBeforeCountedAndNoLineLost) {
    const auto folder = State() / "rolling";
    std::filesystem::create_directories(folder);
    const auto log = folder / "r.log";
    constexpr int kOld = 1500;  // 150,000 bytes from an earlier process
    {
        std::ofstream old(log);
        for (int i = 0; i < kOld; ++i) old << "old " << std::string(95, 'o') << "\n";
    }
    // log4cplus rolls at no less than 200 KiB.
    std::ofstream(folder / "log4cplus.properties")
        << "log4cplus.rootLogger=WARN, file\n"
           "log4cplus.appender.file=log4cplus::RollingFileAppender\n"
           "log4cplus.appender.file.File="
        << log.string()
        << "\n"
           "log4cplus.appender.file.MaxFileSize=200KB\n"
           "log4cplus.appender.file.MaxBackupIndex=5\n"
           "log4cplus.appender.file.layout=log4cplus::PatternLayout\n"
           "log4cplus.appender.file.layout.ConversionPattern=%m%n\n";
    plat::ConfigureLogging(folder, false);
    constexpr int kNew = 1000;  // about 100,000 bytes more: past 200 KiB once
    for (int i = 0; i < kNew; ++i) KVA_LOG_WARN("new " << i << " " << std::string(80, 'n'));
    plat::ConfigureLogging(State(), false);

    const auto rolled = folder / "r.log.1";
    ASSERT_TRUE(std::filesystem::exists(rolled));
    EXPECT_FALSE(std::filesystem::exists(folder / "r.log.2"));
    const auto size = std::filesystem::file_size(rolled);
    EXPECT_GT(size, 200u * 1024u);
    EXPECT_LT(size, 200u * 1024u + 200u) << "rolled one line past the size, not later";

    std::vector<std::string> all = Lines(rolled);
    for (auto& line : Lines(log)) all.push_back(std::move(line));
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kOld + kNew));
    for (int i = 0; i < kNew; ++i) {
        ASSERT_EQ(all[kOld + i].rfind("new " + std::to_string(i) + " ", 0), 0u) << all[kOld + i];
    }
}

}  // namespace
}  // namespace kvatest
