// The logger configured again while the process runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "TestMachine.h"
#include "kva/platform/Log.h"

namespace kvatest {
namespace {

class LoggingTest : public CTestMachine {};

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// log4cplus's thread pool serves only appenders that set AsyncAppend, so it is ended once the
// logger is configured without one; a later configuration that asks for one must not hand its
// lines to the pool that is gone (log4cplus would crash), and appends at once instead.
TEST_F(LoggingTest, AnAsynchronousAppenderConfiguredAfterThePoolEndedWritesSynchronously) {
    plat::ConfigureLogging(State(), false);
    const int threads = ThreadCount();
    const auto folder = State() / "async";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "log4cplus.properties")
        << "log4cplus.rootLogger=WARN, file\n"
           "log4cplus.appender.file=log4cplus::FileAppender\n"
           "log4cplus.appender.file.File="
        << (folder / "async.log").string()
        << "\n"
           "log4cplus.appender.file.AsyncAppend=true\n"
           "log4cplus.appender.file.layout=log4cplus::PatternLayout\n"
           "log4cplus.appender.file.layout.ConversionPattern=%m%n\n";
    plat::ConfigureLogging(folder, false);
    KVA_LOG_WARN("written with the pool gone");
    EXPECT_NE(ReadAll(folder / "async.log").find("written with the pool gone"), std::string::npos);
    EXPECT_LE(ThreadCount(), threads) << "no pool thread came back";
    plat::ConfigureLogging(State(), false);
}

}  // namespace
}  // namespace kvatest
