#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "TestMachine.h"

namespace {

class HostTest : public kvatest::CTestMachine {};

// The host loads, starts and unloads the library again and again in one process; with a period
// of hours every unload must still end the service's waits at once.
TEST_F(HostTest, LibraryLoadsStartsAndUnloadsRepeatedly) {
    kvatest::WriteCommonConfig("", 1, 600);
    const std::string cmd = kvatest::BinaryPath("kva").string() + " --state '" + State().string() +
                            "' host --cycles 20 --hold-ms 20 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::array<char, 4096> buf{};
    std::string out;
    while (std::size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("20 start(s)"), std::string::npos) << out;
}

}  // namespace

namespace {

// The whole road across processes: a signed service served over HTTP, the hub, the host with the
// library, one round on the scaled clock, and a clean stop of everything.
TEST(DemoTest, OneRoundAcrossTheSuitesProcesses) {
    const auto state = std::filesystem::temp_directory_path() / ("kva-demo-test-" + std::to_string(getpid()));
    std::filesystem::remove_all(state);
    const std::string cmd = kvatest::BinaryPath("kva").string() + " --state '" + state.string() +
                            "' demo --rounds 1 --period 1 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::array<char, 4096> buf{};
    std::string out;
    while (std::size_t n = fread(buf.data(), 1, buf.size(), p)) out.append(buf.data(), n);
    const int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_NE(out.find("== round 1 =="), std::string::npos) << out;
    EXPECT_NE(out.find("event 619002012"), std::string::npos) << out;
    std::filesystem::remove_all(state);
}

}  // namespace
