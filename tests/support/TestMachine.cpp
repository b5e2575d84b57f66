#include "TestMachine.h"

#include <unistd.h>

#include <atomic>
#include <sys/wait.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <thread>

#include "kva/platform/Paths.h"

#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"

namespace kvatest {

void CTestMachine::SetUp() {
    static std::atomic<int> counter{0};
    m_state = std::filesystem::temp_directory_path() /
              ("kva-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_state);
    ASSERT_TRUE(plat::OpenMachine(m_state));
    plat::CClock::Get().UseFake();
}

void CTestMachine::TearDown() {
    plat::CClock::Get().UseReal();
    if (!HasFailure()) {
        std::error_code ec;
        std::filesystem::remove_all(m_state, ec);
    }
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void WriteCommonConfig(const std::string& serviceUrl, int initTimeMinutes, int periodMinutes,
                       const std::string& extraUpdateAttributes) {
    const auto file = plat::ToHostPath("C:\\Program Files\\Vantor\\Pilotdeck\\config\\commoncfg.xml");
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "<commoncfg><UpdateService url=\"" << serviceUrl << "\"/><Update initTime=\""
                        << initTimeMinutes << "\" queryPeriod=\"" << periodMinutes << "\" " << extraUpdateAttributes
                        << "/></commoncfg>";
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    while (std::size_t n = fread(buf, 1, sizeof(buf), p)) text.append(buf, n);
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::filesystem::path BinaryPath(const std::string& name) {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::filesystem::path self(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0));
    return self.parent_path() / name;
}

}  // namespace kvatest
