// The one logger. Every line is "text(Class::Method)" with the source file and line; progress at
// warning level (30000), failures at error level (40000). No other levels are used.
//
//   KVA_LOG_WARN("finished download, SilentInstall start");
//   KVA_LOG_ERROR("failed to get module path, errcode: " << plat::GetLastError());
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

namespace plat {

enum class LogLevel : int { Warning = 30000, Error = 40000 };

// Configures the logger from "log4cplus.properties" in the state folder, writing a default one
// (a rolling file under <state>/logs) when absent. Also adds a console appender when asked.
// Safe to call more than once; the first use of the logger configures it with no console.
void ConfigureLogging(const std::filesystem::path& stateFolder, bool console);

bool IsLogEnabled(LogLevel level);
void WriteLog(LogLevel level, const std::string& text, const char* file, int line,
              const char* function);

// "Class::Method" from __PRETTY_FUNCTION__ (return type, arguments and qualifiers dropped).
std::string QualifiedFunctionName(std::string_view prettyFunction);

}  // namespace plat

#define KVA_LOG_AT(level, streamExpr)                                                       \
    do {                                                                                    \
        if (::plat::IsLogEnabled(level)) {                                                  \
            std::ostringstream kvaLogStream_;                                               \
            kvaLogStream_ << streamExpr;                                                    \
            kvaLogStream_ << "(" << ::plat::QualifiedFunctionName(__PRETTY_FUNCTION__) << ")"; \
            ::plat::WriteLog(level, kvaLogStream_.str(), __FILE__, __LINE__, __func__);     \
        }                                                                                   \
    } while (0)

#define KVA_LOG_WARN(streamExpr) KVA_LOG_AT(::plat::LogLevel::Warning, streamExpr)
#define KVA_LOG_ERROR(streamExpr) KVA_LOG_AT(::plat::LogLevel::Error, streamExpr)
