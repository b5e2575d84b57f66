// The logger on Windows: the same line layout and file per process as the other backend's
// configuration writes, appended directly. The root level is read from "log4cplus.properties" in
// the state folder when one is there (WARN, ERROR or OFF); appenders other than the file and the
// console are not offered here.
#include "kva/platform/Log.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>

#include "Win32.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

struct LogState {
    std::mutex mtx;
    bool configured = false;
    bool console = false;
    int threshold = static_cast<int>(LogLevel::Warning);
    std::filesystem::path file;
};

// Never destroyed: threads of an unloading library may still log while statics are torn down.
LogState& State() {
    static LogState* state = new LogState();
    return *state;
}

std::string ProcessName() {
    wchar_t buf[MAX_PATH];
    const ::DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    if (n == 0) return "kva";
    return ToUtf8(std::filesystem::path(std::wstring(buf, n)).stem().wstring());
}

int ThresholdFrom(const std::filesystem::path& properties) {
    std::ifstream in(properties);
    std::string line;
    const std::string key = "log4cplus.rootLogger=";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0) continue;
        const std::string level = line.substr(key.size(), line.find(',') - key.size());
        if (level == "ERROR" || level == "FATAL") return static_cast<int>(LogLevel::Error);
        if (level == "OFF") return 60000;
        return static_cast<int>(LogLevel::Warning);
    }
    return static_cast<int>(LogLevel::Warning);
}

// REQUIRES: state.mtx held.
void ConfigureLocked(LogState& state, const std::filesystem::path& stateFolder) {
    state.threshold = ThresholdFrom(stateFolder / "log4cplus.properties");
    state.file = stateFolder / "logs" / (ProcessName() + "-" + std::to_string(::GetCurrentProcessId()) + ".log");
    std::error_code ec;
    std::filesystem::create_directories(state.file.parent_path(), ec);
    state.configured = true;
}

std::string Timestamp(bool withDate) {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    char buf[40];
    if (withDate) {
        std::snprintf(buf, sizeof(buf), "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                      t.wMinute, t.wSecond, t.wMilliseconds);
    } else {
        std::snprintf(buf, sizeof(buf), "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    }
    return buf;
}

}  // namespace

void ConfigureLogging(const std::filesystem::path& stateFolder, bool console) {
    LogState& state = State();
    std::lock_guard lock(state.mtx);
    ConfigureLocked(state, stateFolder);
    state.console = console;
}

bool IsLogEnabled(LogLevel level) {
    LogState& state = State();
    std::lock_guard lock(state.mtx);
    if (!state.configured) ConfigureLocked(state, StateFolder());
    return static_cast<int>(level) >= state.threshold;
}

void WriteLog(LogLevel level, const std::string& text, const char* file, int line, const char* function) {
    const char* name = level == LogLevel::Error ? "ERROR" : "WARN ";
    const std::string base = std::filesystem::path(file ? file : "").filename().string();
    LogState& state = State();
    std::lock_guard lock(state.mtx);
    std::ofstream out(state.file, std::ios::binary | std::ios::app);
    out << Timestamp(true) << ' ' << name << " [" << ::GetCurrentThreadId() << "] " << text << " [" << base << ':'
        << line << "]\n";
    if (state.console) std::clog << Timestamp(false) << ' ' << name << ' ' << text << '\n';
}

}  // namespace plat
