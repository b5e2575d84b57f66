#include "install/DataEvents.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "DataReport/BIDataReport.h"
#include "kva/platform/Clock.h"

namespace kva_events {

std::string ToText(double d) {
    if (!std::isfinite(d)) return "0";
    char text[400];  // the longest fixed form of a double is below 330 characters
    const auto r = std::to_chars(text, text + sizeof text, d, std::chars_format::fixed);
    return r.ec == std::errc() ? std::string(text, r.ptr) : std::string("0");
}

bool Send(int n, std::vector<std::string> values) {
    if (n >= 10000) return false;
    values.insert(values.begin(), std::to_string(n));
    return CBIDataReport::GetInstance()->Report(kEventBase + n, values);
}

}  // namespace kva_events

void ReportDriverUpdateError(UpdaterManager::enmUPDATER_ERROR_TYPE error, _DRIVER_UPDATE_TYPE type,
                             UpdaterManager::enmUPDATER_LOG_TRACK_TYPE track, std::string name) {
    if (error == UpdaterManager::UPDATER_ERROR_NONE) return;
    ReportEvent(6001, "DriverName " + name + ";" + kva_events::ToText(type), track, error);
}

void ReportCorvellaUpdateError(UpdaterManager::enmUPDATER_ERROR_TYPE error, _DRIVER_UPDATE_TYPE type,
                               UpdaterManager::enmUPDATER_LOG_TRACK_TYPE track) {
    if (error == UpdaterManager::UPDATER_ERROR_NONE) return;
    ReportEvent(3011, kva_events::ToText(type), track, error);
}

std::uint64_t InstallTimerKey(const std::string& id, int updateType) {
    const auto high = static_cast<std::uint32_t>((static_cast<std::uint32_t>(std::atoi(id.c_str())) << 8) +
                                                 static_cast<std::uint32_t>(updateType));
    return (static_cast<std::uint64_t>(high) << 32) | static_cast<std::uint32_t>(kva_events::kEventBase + 2006);
}

void StartInstallTimer(const std::string& id, int updateType) {
    CBIDataReport::GetInstance()->SetReportTypeStartTime(InstallTimerKey(id, updateType),
                                                         plat::CClock::Get().PerformanceCounter());
}

bool ReportInstallTimer(const std::string& id, int updateType, const std::string& text) {
    double elapsed = 0;
    if (!CBIDataReport::GetInstance()->GetReportTypeDeltaTime(InstallTimerKey(id, updateType), elapsed)) return false;
    return ReportEvent(2006, text, elapsed);
}
