#include "TestMachine.h"

#include <atomic>

#include <fstream>
#include <thread>

#include "kva/platform/Paths.h"

#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Module.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Process.h"
#include "kva/platform/Text.h"

namespace kvatest {

void CTestMachine::SetUp() {
    static std::atomic<int> counter{0};
    m_state = std::filesystem::temp_directory_path() /
              ("kva-test-" + std::to_string(plat::CurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(m_state);
    ASSERT_TRUE(plat::OpenMachine(m_state));
    // Where the registry is the real machine's (Windows), a fresh machine has none of the suite's keys.
    plat::RegDeleteTree(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor");
    plat::RegDeleteTree(plat::kHKeyUsers, plat::CurrentUserSid() + L"\\SOFTWARE\\Vantor");
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

void WriteChangedFile(const std::filesystem::path& file, const std::string& bytes) {
    static std::atomic<int> bump{0};
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() + std::chrono::seconds(++bump));
}

void WriteCommonConfig(const std::string& serviceUrl, int initTimeMinutes, int periodMinutes,
                       const std::string& extraUpdateAttributes) {
    const auto file = plat::ToHostPath("C:\\Program Files\\Vantor\\Pilotdeck\\config\\commoncfg.xml");
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "<commoncfg><UpdateService url=\"" << serviceUrl << "\"/><Update initTime=\""
                        << initTimeMinutes << "\" queryPeriod=\"" << periodMinutes << "\" " << extraUpdateAttributes
                        << "/></commoncfg>";
}

int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string field;
    int count = 0;
    while (status >> field) {
        if (field == "Threads:" && status >> count) return count;
    }
    return 0;
}

int RunCommand(const std::string& command, std::string* output) {
    return plat::RunProcess("sh", {"-c", command + " 2>&1"}, output);
}

std::filesystem::path BinaryPath(const std::string& name) {
    return std::filesystem::path(plat::ToUtf8(plat::HostExecutablePath())).parent_path() / name;
}

std::string KvaCommand(const std::filesystem::path& state) {
    return "'" + BinaryPath("kva").string() + "' --state '" + state.string() + "'";
}

int RunKva(const std::filesystem::path& state, const std::string& args, std::string* output) {
    return RunCommand(KvaCommand(state) + " " + args, output);
}

bool StartKva(plat::CChildProcess& child, const std::filesystem::path& state, std::vector<std::string> args) {
    args.insert(args.begin(), {"--state", state.string()});
    return child.Start(BinaryPath("kva"), args);
}

std::string ExpectLine(plat::CChildProcess& child, const std::string& text, std::chrono::milliseconds realTimeout) {
    std::string line;
    while (child.ReadLine(&line, realTimeout)) {
        if (line.find(text) != std::string::npos) return line;
    }
    ADD_FAILURE() << "no line with \"" << text << "\"";
    return {};
}

}  // namespace kvatest
