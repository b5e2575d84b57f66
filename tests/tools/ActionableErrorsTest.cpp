// What a person sees when kva cannot do its job: one line that says what is wrong and what to do,
// and a failing exit status; never the log.
#include <fstream>

#include "ServeKit/UpdateServer.h"
#include "TestMachine.h"
#include "kva/platform/Socket.h"

namespace {

class ActionableErrorsTest : public kvatest::CTestMachine {
protected:
    // Runs kva with `args` on `state` (this test's machine by default); checks it failed with one
    // line holding every one of `says`.
    void ExpectOneLine(const std::string& args, const std::vector<std::string>& says, std::filesystem::path state = {}) {
        if (state.empty()) state = State();
        std::string out;
        const int rc = kvatest::RunKva(state, args, &out);
        EXPECT_NE(rc, 0) << args << ": " << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << args << ": " << out;
        for (const std::string& text : says) EXPECT_NE(out.find(text), std::string::npos) << args << ": " << text << "\n" << out;
    }
    std::string Service() const { return (State() / "svc").string(); }
};

TEST_F(ActionableErrorsTest, AStateFolderThatCannotBeWrittenNamesTheOption) {
    std::ofstream(State() / "a-file") << "x";
    ExpectOneLine("check", {"cannot open the machine in", "give --state another folder"}, State() / "a-file" / "machine");
}

TEST_F(ActionableErrorsTest, TextThatIsNoIpcIdIsRefusedBeforeTheMachineIsOpened) {
    // No machine can be opened at this state folder, so only a refusal while the command line is
    // read names the option alone.
    std::ofstream(State() / "a-file") << "x";
    const std::string kva =
        kvatest::BinaryPath("kva").string() + " --state '" + (State() / "a-file" / "machine").string() + "' ";
    for (const char* args : {"ipc send --to 0x50000 --msg nope", "ipc listen --id 0x50000 --topic 0x300000 --topic 3z"}) {
        std::string out;
        EXPECT_NE(kvatest::RunCommand(kva + args + " 2>&1", &out), 0) << args;
        EXPECT_NE(out.find("not an id: "), std::string::npos) << args << "\n" << out;
        EXPECT_EQ(out.find("cannot open the machine"), std::string::npos) << args << "\n" << out;
    }
}

TEST_F(ActionableErrorsTest, AMissingConfigurationSaysHowToMakeOne) {
    for (const char* verb : {"check", "host"}) ExpectOneLine(verb, {"no configuration at", "kva catalogue make"});
}

TEST_F(ActionableErrorsTest, AnUnreachableServiceNamesItsUrlAndHowToStartOne) {
    std::string error;
    std::uint16_t port = 0;
    {  // A port that was free a moment ago: nothing listens there now.
        const plat::CSocket probe = plat::CSocket::ListenLoopback(0, &error);
        ASSERT_TRUE(probe.Valid()) << error;
        port = probe.LocalPort();
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(kvatest::RunKva(State(), "catalogue make '" + Service() + "' --configure " + url), 0);
    ExpectOneLine("check", {"the update service", url, "does not answer", "kva serve"});
}

TEST_F(ActionableErrorsTest, APortInUseSaysToPickAnother) {
    std::filesystem::create_directories(Service());
    CUpdateServer holder;
    std::string error;
    ASSERT_TRUE(holder.Start(Service(), 0, {}, &error)) << error;
    ExpectOneLine("serve '" + Service() + "' --port " + std::to_string(holder.Port()),
                  {"port " + std::to_string(holder.Port()) + " is in use", "--port 0"});
}

}  // namespace
