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
    const int rc = kvatest::RunKva(State(), "host --cycles 20 --hold-ms 20", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("20 start(s)"), std::string::npos) << out;
}

// The whole road across processes told as a story: a signed service served over HTTP, the hub,
// the host with the library, a refusal that clears, the restart prompt postponed and taken, and a
// clean stop of everything.
TEST(DemoTest, TellsTheRoadFromOfferToRebootAcrossTheSuitesProcesses) {
    const auto state = std::filesystem::temp_directory_path() / ("kva-demo-test-" + std::to_string(plat::CurrentProcessId()));
    std::filesystem::remove_all(state);
    std::string out;
    const int rc = kvatest::RunKva(state, "demo --rounds 1 --period 2 --package-size 256K --rate 256K", &out);
    EXPECT_EQ(rc, 0) << out;
    auto at = [&](const std::string& text) { return out.find(text); };
    for (const char* said : {"-- round 1 ", "offered 22.200.0.6: a forced update", "downloaded 256 KB in",
                             "install refused: a meeting is running", "installed (installer exit code 0",
                             "answers \"postpone\"", "the prompt is back", "restarts the machine: boot id"}) {
        EXPECT_NE(at(said), std::string::npos) << said << "\n" << out;
    }
    EXPECT_LT(at("the meeting ends"), at("Onboard Audio Driver    installed")) << out;
    EXPECT_EQ(at("event 6"), std::string::npos) << "raw data events only with -v\n" << out;
    std::filesystem::remove_all(state);
}

}  // namespace
