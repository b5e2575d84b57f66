// A real machine's embedded controller and firmware cannot be scripted, and what they were given
// is theirs to keep: the device-I/O and ACPI-WMI ports talk to the real ones. So no script is
// understood, the current one is the devices' plain answer (accept, no simulated delay or event),
// and no calls or images are recorded. The first call says so in the log.
#include "kva/platform/SimDevices.h"

#include <atomic>

#include "kva/platform/Log.h"

namespace plat {

namespace {

void SayNotAvailable(const char* call) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true)) {
        KVA_LOG_ERROR(call << ": the simulated devices are not available on a real machine");
    }
}

}  // namespace

std::optional<PdScript> ParsePdScript(const std::string&) {
    SayNotAvailable("ParsePdScript");
    return std::nullopt;
}

PdScript CurrentPdScript() {
    SayNotAvailable("CurrentPdScript");
    PdScript real;
    real.eventId = std::nullopt;  // the real firmware's event is the real one, not one made up here
    real.delayMs = 0;
    return real;
}

std::vector<DeviceCall> ListDeviceCalls() {
    SayNotAvailable("ListDeviceCalls");
    return {};
}

void ClearDeviceCalls() { SayNotAvailable("ClearDeviceCalls"); }

std::vector<std::filesystem::path> ListEcImages() {
    SayNotAvailable("ListEcImages");
    return {};
}

}  // namespace plat
