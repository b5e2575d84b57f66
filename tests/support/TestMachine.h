// A fresh simulated machine in a temporary folder, with the fake clock, for one test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace plat {
class CChildProcess;
}

namespace kvatest {

class CTestMachine : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::filesystem::path& State() const { return m_state; }

private:
    std::filesystem::path m_state;
};

// Polls `condition` (real time, at most `timeout`) until it holds: for effects another thread
// produces after the fake clock moved. Never a fixed sleep.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Writes `bytes` to `file` (folders made) stamped later than any write before it: readers that
// reload on a new time stamp see the change within the file system's resolution.
void WriteChangedFile(const std::filesystem::path& file, const std::string& bytes);

// Writes the suite's common configuration of the current machine.
void WriteCommonConfig(const std::string& serviceUrl, int initTimeMinutes, int periodMinutes,
                       const std::string& extraUpdateAttributes = "");

// Runs a shell command, returns its exit code (128 + signal when a signal ended it, -1 when it
// could not start) and its output (standard error included).
int RunCommand(const std::string& command, std::string* output = nullptr);

// Threads of this process now (from /proc; 0 where there is none).
int ThreadCount();

// Reads `child`'s output until a line contains `text` and returns that line; fails the test and
// returns "" when the child ends or writes nothing for `realTimeout`.
std::string ExpectLine(plat::CChildProcess& child, const std::string& text,
                       std::chrono::milliseconds realTimeout = std::chrono::milliseconds(20000));

// Path of a helper executable built beside the tests.
std::filesystem::path BinaryPath(const std::string& name);

// `kva --state <state>`, quoted for the shell, to put verbs behind.
std::string KvaCommand(const std::filesystem::path& state);
// Runs `kva --state <state> <args>` through the shell, as RunCommand.
int RunKva(const std::filesystem::path& state, const std::string& args, std::string* output = nullptr);
// Starts `kva --state <state> <args...>` as `child`; false when it could not start.
bool StartKva(plat::CChildProcess& child, const std::filesystem::path& state, std::vector<std::string> args);

}  // namespace kvatest
