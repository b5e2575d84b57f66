#include <sys/wait.h>

#include <array>
#include <cstdio>

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
