#include "kva/platform/Log.h"

#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include <log4cplus/configurator.h>
#include <log4cplus/consoleappender.h>
#include <log4cplus/helpers/loglog.h>
#include <log4cplus/helpers/property.h>
#include <log4cplus/initializer.h>
#include <log4cplus/layout.h>
#include <log4cplus/logger.h>
#include <log4cplus/loglevel.h>

#include "RollingLogAppender.h"
#include "kva/platform/Machine.h"

namespace log4cplus {
// Exported by log4cplus 2.0 (deinitialize() calls it) but declared in none of its headers.
void shutdownThreadPool();
}  // namespace log4cplus

namespace plat {

namespace {

std::once_flag g_defaultConfigured;
std::mutex g_configMutex;
bool g_consoleAdded = false;

const char* const kDefaultProperties =
    "# Logging of the KVAUpdaterCheck processes. ${process} is replaced by the process name.\n"
    "log4cplus.rootLogger=WARN, file\n"
    "log4cplus.appender.file=log4cplus::RollingFileAppender\n"
    "log4cplus.appender.file.File=${logs}/${process}.log\n"
    "log4cplus.appender.file.MaxFileSize=10MB\n"
    "log4cplus.appender.file.MaxBackupIndex=3\n"
    "log4cplus.appender.file.CreateDirs=true\n"
    "log4cplus.appender.file.layout=log4cplus::PatternLayout\n"
    "log4cplus.appender.file.layout.ConversionPattern=%D{%Y-%m-%d %H:%M:%S.%q} %-5p [%t] %m [%b:%L]%n\n";

log4cplus::Logger TheLogger() { return log4cplus::Logger::getInstance("KVAUpdaterCheck"); }

std::string ProcessName() {
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "kva" : name;
}

// Guarded by g_configMutex, as every configuration is.
bool g_poolEnded = false;

// The keys of the appenders that want log4cplus's thread pool ("appender.X.AsyncAppend=true").
std::vector<std::string> AsyncAppenderKeys(const log4cplus::helpers::Properties& props) {
    std::vector<std::string> keys;
    for (const auto& key : props.propertyNames()) {
        bool async = false;
        if (key.ends_with(".AsyncAppend") && props.getBool(async, key) && async) keys.push_back(key);
    }
    return keys;
}

// Once log4cplus's thread pool is ended, an appender with AsyncAppend would hand its lines to the
// pool that is gone (log4cplus does not check); such appenders then append synchronously.
void TurnAsyncOffWithoutPool(log4cplus::helpers::Properties& props) {
    if (!g_poolEnded) return;
    for (const auto& key : AsyncAppenderKeys(props)) {
        log4cplus::helpers::getLogLog().warn(key + ": log4cplus's thread pool is gone; appending synchronously");
        props.setProperty(key, "false");
    }
}

// log4cplus's rolling appender asks the file for its size twice per line; ours writes the same
// lines to the same files and rolls over at the same sizes without that.
void UseOurRollingAppender(log4cplus::helpers::Properties& props) {
    sim::CRollingLogAppender::Register();
    const std::string prefix = "log4cplus.appender.";
    for (const auto& key : props.propertyNames()) {
        if (!key.starts_with(prefix) || key.find('.', prefix.size()) != std::string::npos) continue;
        if (props.getProperty(key) == "log4cplus::RollingFileAppender") {
            props.setProperty(key, sim::CRollingLogAppender::kName);
        }
    }
}

void Replace(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size()) {
        s.replace(pos, from.size(), to);
    }
}

void Configure(const std::filesystem::path& stateFolder) {
    // log4cplus must be initialised once per process and is never torn down: threads of an
    // unloading library may still log while static destructors run.
    static bool initialised = [] {
        log4cplus::initialize();
        return true;
    }();
    (void)initialised;
    const auto file = stateFolder / "log4cplus.properties";
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        std::filesystem::create_directories(stateFolder, ec);
        std::ofstream(file) << kDefaultProperties;
    }
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::string props = text.str();
    Replace(props, "${logs}", (stateFolder / "logs").string());
    Replace(props, "${process}", ProcessName() + "-" + std::to_string(getpid()));
    // Left unset, a configuration would start four pool threads.
    if (props.find("log4cplus.threadPoolSize") == std::string::npos) props += "\nlog4cplus.threadPoolSize=1\n";
    std::istringstream stream(props);
    log4cplus::helpers::Properties properties(stream);
    const bool async = !AsyncAppenderKeys(properties).empty();
    log4cplus::Logger::getRoot().removeAllAppenders();
    TurnAsyncOffWithoutPool(properties);
    UseOurRollingAppender(properties);
    log4cplus::PropertyConfigurator config(properties);
    config.configure();
    // The pool's only users are appenders with AsyncAppend; without one it is an idle thread in
    // every process. Once ended it cannot come back.
    if (!async && !g_poolEnded) {
        log4cplus::shutdownThreadPool();
        g_poolEnded = true;
    }
}

void EnsureConfigured() {
    std::call_once(g_defaultConfigured, [] {
        std::lock_guard lock(g_configMutex);
        Configure(StateFolder());
    });
}

}  // namespace

void ConfigureLogging(const std::filesystem::path& stateFolder, bool console) {
    std::call_once(g_defaultConfigured, [] {});
    std::lock_guard lock(g_configMutex);
    Configure(stateFolder);
    g_consoleAdded = false;
    if (console && !g_consoleAdded) {
        log4cplus::SharedAppenderPtr app(new log4cplus::ConsoleAppender(true));
        app->setLayout(std::make_unique<log4cplus::PatternLayout>("%D{%H:%M:%S} %-5p %m%n"));
        log4cplus::Logger::getRoot().addAppender(app);
        g_consoleAdded = true;
    }
}

bool IsLogEnabled(LogLevel level) {
    EnsureConfigured();
    return TheLogger().isEnabledFor(static_cast<log4cplus::LogLevel>(level));
}

void WriteLog(LogLevel level, const std::string& text, const char* file, int line, const char* function) {
    TheLogger().forcedLog(static_cast<log4cplus::LogLevel>(level), text, file, line, function);
}

}  // namespace plat
