// Data events: a short number n below 10000 is reported as event 601000000 + n with the values
// [decimal text of n, each argument as text]; numbers of 10000 and more are not reported.
// Any thread may report.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "driver_update/UpdateRecords.h"
#include "install/DataEventIds.h"

namespace kva_events {

inline constexpr std::int64_t kEventBase = evt::kEventBase;

inline std::string ToText(const std::string& s) { return s; }
inline std::string ToText(const char* s) { return s ? s : ""; }
inline std::string ToText(bool b) { return b ? "1" : "0"; }
// Plain decimal with every digit the value needs (1234567.8 stays "1234567.8", never an exponent).
std::string ToText(double d);
template <class T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
std::string ToText(T v) {
    if constexpr (std::is_enum_v<T>) return std::to_string(static_cast<std::int64_t>(v));
    else return std::to_string(v);
}

bool Send(int n, std::vector<std::string> values);

}  // namespace kva_events

template <class... Args>
bool ReportEvent(int n, const Args&... values) {
    return kva_events::Send(n, {kva_events::ToText(values)...});
}

void ReportDriverUpdateError(UpdaterManager::enmUPDATER_ERROR_TYPE error, _DRIVER_UPDATE_TYPE type,
                             UpdaterManager::enmUPDATER_LOG_TRACK_TYPE track, std::string name);
void ReportCorvellaUpdateError(UpdaterManager::enmUPDATER_ERROR_TYPE error, _DRIVER_UPDATE_TYPE type,
                               UpdaterManager::enmUPDATER_LOG_TRACK_TYPE track);

// The install-duration event 2006: its timer key holds the event number in the low 32 bits and
// (atoi(id) << 8) + update type, truncated to 32 bits, in the high ones.
std::uint64_t InstallTimerKey(const std::string& id, int updateType);
void StartInstallTimer(const std::string& id, int updateType);
// Sends event 2006 with `text` and the elapsed time, only when a start was recorded.
bool ReportInstallTimer(const std::string& id, int updateType, const std::string& text);
