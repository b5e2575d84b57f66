#include <filesystem>

#include "TestMachine.h"
#include "kva/platform/Desktop.h"

namespace {

class HostTest : public kvatest::CTestMachine {};

// The host loads, starts and unloads the library again and again in one process; with a period
// of hours every unload must still end the service's waits at once.
TEST_F(HostTest, LibraryLoadsStartsAndUnloadsRepeatedly) {
    kvatest::WriteCommonConfig("", 1, 600);
    std::string out;
    const int rc = kvatest::RunCommand(kvatest::BinaryPath("kva").string() + " --state '" + State().string() +
                                           "' host --cycles 20 --hold-ms 20",
                                       &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("20 start(s)"), std::string::npos) << out;
}

// The whole road across processes: a signed service served over HTTP, the hub, the host with the
// library, one round on the scaled clock, and a clean stop of everything.
TEST(DemoTest, OneRoundAcrossTheSuitesProcesses) {
    const auto state = std::filesystem::temp_directory_path() / ("kva-demo-test-" + std::to_string(plat::CurrentProcessId()));
    std::filesystem::remove_all(state);
    std::string out;
    const int rc = kvatest::RunCommand(
        kvatest::BinaryPath("kva").string() + " --state '" + state.string() + "' demo --rounds 1 --period 1", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("== round 1 =="), std::string::npos) << out;
    EXPECT_NE(out.find("event 619002012"), std::string::npos) << out;
    std::filesystem::remove_all(state);
}

}  // namespace
