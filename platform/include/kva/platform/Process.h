// Real operating-system processes started by this one, and the signals that ask a foreground
// program to stop. (The simulated machine's process *list* is in Desktop.h; this is about running
// programs: the suite's peers, helpers of tests and benchmarks.)
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace plat {

// A child process with its standard output on a pipe. Not thread-safe: one owner thread. Not
// copyable (it owns its Impl). The destructor kills a child that is still running and reaps it.
class CChildProcess {
public:
    CChildProcess();
    ~CChildProcess();

    // Starts `program` with `args` (argv[1..]); its standard error is inherited, its standard
    // output is read through ReadLine. False when the program cannot be started.
    bool Start(const std::filesystem::path& program, const std::vector<std::string>& args);
    bool Running();
    // One line of the child's output without the newline; false at end of output or when no whole
    // line arrived within `realTimeout` (real time: the child does not run on our clock).
    bool ReadLine(std::string* line, std::chrono::milliseconds realTimeout);
    // Asks the child to stop (SIGTERM) and waits for it; the exit code, or 128 + signal.
    int Stop(std::chrono::milliseconds realTimeout = std::chrono::milliseconds(10000));
    // Waits for the child to end by itself; its exit code, or -1 on time-out.
    int Wait(std::chrono::milliseconds realTimeout);
    int Pid() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// Runs `program` (a path, or a name looked up in PATH) to its end; its exit code (-1 when it could
// not start or did not end within `realTimeout`) and its standard output, lines joined by '\n'.
int RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args, std::string* output,
               std::chrono::milliseconds realTimeout = std::chrono::minutes(10));

// For a foreground program that runs until it is told to stop. CatchStopSignals holds SIGINT and
// SIGTERM back from the calling thread and from every thread it starts afterwards, so call it
// before anything starts a thread (logging included); WaitForStopSignal then blocks until one of
// them arrives and returns its number. RaiseStopSignal sends SIGTERM to this process.
void CatchStopSignals();
int WaitForStopSignal();
void RaiseStopSignal();

// Whether this process runs as the superuser (servers it starts must then be told their user).
bool IsSuperUser();

// Reads what the standard input has, waiting at most `realTimeout`: the bytes read, 0 at its end,
// -1 when nothing came in time (so a reader loop can look at its stop flag), -2 on error.
long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds realTimeout);

}  // namespace plat
