// The port's child processes, loopback sockets and files, used directly.
#include <thread>

#include "TestMachine.h"
#include "kva/platform/File.h"
#include "kva/platform/Process.h"
#include "kva/platform/Socket.h"

namespace {

using namespace std::chrono_literals;

TEST(ChildProcessTest, OutputComesLineByLineAndTheExitCodeOrSignalIsKept) {
    plat::CChildProcess child;
    ASSERT_TRUE(child.Start("/bin/sh", {"-c", "echo one; printf 'two\\nthree'; exit 3"}));
    std::string line;
    std::vector<std::string> lines;
    while (child.ReadLine(&line, 10s)) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"})) << "an unterminated last line counts";
    EXPECT_EQ(child.Wait(10s), 3);
    EXPECT_FALSE(child.Running());

    plat::CChildProcess sleeper;
    ASSERT_TRUE(sleeper.Start("/bin/sh", {"-c", "exec sleep 60"}));
    EXPECT_TRUE(sleeper.Running());
    EXPECT_FALSE(sleeper.ReadLine(&line, 10ms)) << "no output yet: the read times out";
    EXPECT_EQ(sleeper.Wait(10ms), -1);
    EXPECT_EQ(sleeper.Stop(), 128 + 15) << "stopped by SIGTERM";

    plat::CChildProcess missing;
    EXPECT_FALSE(missing.Start("/nonexistent/program", {}));
}

TEST(ChildProcessTest, RunProcessFindsProgramsInPathAndReportsWhatCannotRun) {
    std::string out;
    EXPECT_EQ(plat::RunProcess("sh", {"-c", "echo a; echo b >&2; echo c"}, &out), 0);
    EXPECT_EQ(out, "a\nc\n") << "standard error is not captured";
    EXPECT_EQ(plat::RunProcess("sh", {"-c", "exit 7"}, nullptr), 7);
    EXPECT_EQ(plat::RunProcess("kva-no-such-program", {}, &out), -1);
    EXPECT_EQ(plat::RunProcess("sleep", {"30"}, &out, 50ms), -1) << "a child past its time-out";
}

TEST(SocketTest, LoopbackConnectionsCarryBytesBothWaysAndEndCleanly) {
    std::string error;
    plat::CSocket listener = plat::CSocket::ListenLoopback(0, &error);
    ASSERT_TRUE(listener.Valid()) << error;
    ASSERT_NE(listener.LocalPort(), 0);
    plat::CSocket client = plat::CSocket::ConnectLoopback(listener.LocalPort());
    ASSERT_TRUE(client.Valid());
    ASSERT_EQ(listener.WaitReadable(nullptr, 10s), plat::SocketWait::Ready);
    plat::CSocket server = listener.Accept();
    ASSERT_TRUE(server.Valid());

    char buf[16];
    EXPECT_EQ(server.Receive(buf, sizeof(buf), true), plat::CSocket::kWouldBlock);
    EXPECT_EQ(server.WaitReadable(nullptr, 10ms), plat::SocketWait::TimedOut);
    ASSERT_TRUE(client.SendAll("ping", 4, nullptr, 10s));
    client.ShutdownSending();
    std::string got;
    while (server.WaitReadable(nullptr, 10s) == plat::SocketWait::Ready) {
        const long n = server.Receive(buf, sizeof(buf));
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "ping") << "the half-closed peer's end is read as 0";
    ASSERT_TRUE(server.SendAll("pong", 4, nullptr, 10s)) << "the other direction stays open";
    ASSERT_EQ(client.WaitReadable(nullptr, 10s), plat::SocketWait::Ready);
    EXPECT_EQ(client.Receive(buf, sizeof(buf)), 4);

    plat::CSocket taken = plat::CSocket::ListenLoopback(listener.LocalPort(), &error);
    EXPECT_FALSE(taken.Valid());
    EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
}

TEST(SocketTest, AWakerEndsWaitsFromAnotherThreadAndStaysWoken) {
    std::string error;
    plat::CSocket listener = plat::CSocket::ListenLoopback(0, &error);
    ASSERT_TRUE(listener.Valid()) << error;
    plat::CWaker waker;
    ASSERT_TRUE(waker.Valid());
    std::thread wake([&] { waker.Wake(); });
    EXPECT_EQ(listener.WaitReadable(&waker, std::chrono::hours(1)), plat::SocketWait::Woken);
    wake.join();
    EXPECT_EQ(listener.WaitReadable(&waker, std::chrono::hours(1)), plat::SocketWait::Woken);
    plat::CSocket client = plat::CSocket::ConnectLoopback(listener.LocalPort());
    plat::CSocket server = listener.Accept();
    ASSERT_TRUE(server.Valid());
    EXPECT_FALSE(server.SendAll("x", 1, &waker, 10s)) << "a woken waker ends a send too";
}

class FileTest : public kvatest::CTestMachine {};

TEST_F(FileTest, AppendingResumesAtTheEndAndTruncatingStartsOver) {
    const auto path = State() / "part";
    plat::CFile file;
    ASSERT_TRUE(file.Open(path, true));
    ASSERT_TRUE(file.WriteAll("hello ", 6));
    file.Close();
    ASSERT_TRUE(file.Open(path, true));
    EXPECT_EQ(file.Size(), 6u);
    ASSERT_TRUE(file.WriteAll("world", 5));
    char buf[16] = {};
    EXPECT_EQ(file.ReadAt(buf, 5, 6), 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    ASSERT_TRUE(file.WriteAll("!", 1)) << "reading did not move the position";
    EXPECT_EQ(file.Size(), 12u);
    ASSERT_TRUE(file.Truncate());
    ASSERT_TRUE(file.WriteAll("ab", 2));
    EXPECT_EQ(file.Size(), 2u);
    EXPECT_EQ(file.ReadAt(buf, sizeof(buf), 0), 2);
    EXPECT_EQ(file.ReadAt(buf, sizeof(buf), 2), 0) << "at the end";
    file.Close();
    ASSERT_TRUE(file.Open(path, false));
    ASSERT_TRUE(file.WriteAll("x", 1));
    ASSERT_EQ(file.ReadAt(buf, sizeof(buf), 0), 2) << "without append the content stays, written over from its start";
    EXPECT_EQ(std::string(buf, 2), "xb");
    file.Close();
    ASSERT_TRUE(file.Open(path, true, true));
    EXPECT_EQ(file.Size(), 0u) << "truncated as it opens";
}

TEST_F(FileTest, FailuresSayWhetherTheDiskIsFull) {
    plat::CFile file;
    EXPECT_FALSE(file.OpenForReading(State() / "absent"));
    EXPECT_EQ(file.LastError(), plat::FileError::Other);
    EXPECT_FALSE(file.LastErrorText().empty());
    if (!file.Open("/dev/full", false)) GTEST_SKIP() << "no /dev/full here";
    EXPECT_FALSE(file.WriteAll("x", 1));
    EXPECT_EQ(file.LastError(), plat::FileError::DiskFull);
}

}  // namespace
