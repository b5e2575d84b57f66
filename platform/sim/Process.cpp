#include "kva/platform/Process.h"

#include "../common/RunToEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace plat {

struct CChildProcess::Impl {
    pid_t pid = -1;
    int out = -1;  // read end of the child's standard output
    std::string buffered;
    int exitCode = -1;

    // Collects the exit status when the child has ended; true once it has.
    bool Reap(bool block) {
        if (pid < 0) return true;
        int status = 0;
        const pid_t r = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r == 0) return false;
        if (r == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pid = -1;
        return true;
    }

    bool WaitFor(std::chrono::milliseconds realTimeout) {
        const auto deadline = std::chrono::steady_clock::now() + realTimeout;
        while (!Reap(false)) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
};

CChildProcess::CChildProcess() : m_impl(std::make_unique<Impl>()) {}

CChildProcess::~CChildProcess() {
    if (m_impl->pid > 0) {
        kill(m_impl->pid, SIGKILL);
        m_impl->Reap(true);
    }
    if (m_impl->out >= 0) close(m_impl->out);
}

bool CChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args) {
    if (m_impl->pid > 0) return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<std::string> argvText;
    argvText.push_back(program.string());
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child starts with no signal held back, whatever this thread holds (CatchStopSignals).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argvText[0].c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    if (m_impl->out >= 0) close(m_impl->out);
    m_impl->pid = pid;
    m_impl->out = fds[0];
    m_impl->buffered.clear();
    m_impl->exitCode = -1;
    return true;
}

bool CChildProcess::Running() { return !m_impl->Reap(false); }

int CChildProcess::Pid() const { return m_impl->pid; }

bool CChildProcess::ReadLine(std::string* line, std::chrono::milliseconds realTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        const auto nl = m_impl->buffered.find('\n');
        if (nl != std::string::npos) {
            *line = m_impl->buffered.substr(0, nl);
            m_impl->buffered.erase(0, nl + 1);
            return true;
        }
        if (m_impl->out < 0) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{m_impl->out, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        char buf[4096];
        const ssize_t got = read(m_impl->out, buf, sizeof(buf));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(m_impl->out);
            m_impl->out = -1;
            if (m_impl->buffered.empty()) return false;
            *line = std::move(m_impl->buffered);
            m_impl->buffered.clear();
            return true;
        }
        m_impl->buffered.append(buf, static_cast<std::size_t>(got));
    }
}

int CChildProcess::Stop(std::chrono::milliseconds realTimeout) {
    if (m_impl->pid > 0) {
        kill(m_impl->pid, SIGTERM);
        if (!m_impl->WaitFor(realTimeout)) {
            kill(m_impl->pid, SIGKILL);
            m_impl->Reap(true);
        }
    }
    return m_impl->exitCode;
}

int CChildProcess::Wait(std::chrono::milliseconds realTimeout) {
    return m_impl->WaitFor(realTimeout) ? m_impl->exitCode : -1;
}

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

int RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args, std::string* output,
               std::chrono::milliseconds realTimeout) {
    std::filesystem::path path = program;
    if (!program.has_parent_path()) {
        const char* env = std::getenv("PATH");
        std::string dirs = env ? env : "/usr/bin:/bin";
        for (std::size_t start = 0; start <= dirs.size();) {
            const std::size_t end = std::min(dirs.find(':', start), dirs.size());
            const auto candidate = std::filesystem::path(dirs.substr(start, end - start)) / program;
            if (access(candidate.c_str(), X_OK) == 0) {
                path = candidate;
                break;
            }
            start = end + 1;
        }
    }
    return detail::RunToEnd(path, args, output, realTimeout);
}

void CatchStopSignals() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {
    }
    return sig;
}

void RaiseStopSignal() { kill(getpid(), SIGTERM); }

bool IsSuperUser() { return geteuid() == 0; }

long ReadStandardInput(char* buffer, std::size_t size, std::chrono::milliseconds realTimeout) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(realTimeout.count()));
    if (n == 0 || (n < 0 && errno == EINTR)) return -1;
    if (n < 0) return -2;
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, size);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -2;
    }
}

}  // namespace plat
