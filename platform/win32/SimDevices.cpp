// A real machine's embedded controller and firmware cannot be scripted, and what they were given
// is theirs to keep: the device-I/O and ACPI-WMI ports talk to the real ones. So no script is
// understood, the current one is the devices' plain answer (accept, no simulated delay or event),
// and no calls or images are recorded. The first call says so in the log.
#include "kva/platform/SimDevices.h"

#include "Win32.h"

namespace plat {

namespace {

win32::CFirstCallNotice g_notAvailable("the simulated devices are not available on a real machine");

}  // namespace

std::optional<PdScript> ParsePdScript(const std::string&) {
    g_notAvailable.Say("ParsePdScript");
    return std::nullopt;
}

PdScript CurrentPdScript() {
    g_notAvailable.Say("CurrentPdScript");
    PdScript real;
    real.eventId = std::nullopt;  // the real firmware's event is the real one, not one made up here
    real.delayMs = 0;
    return real;
}

std::vector<DeviceCall> ListDeviceCalls() {
    g_notAvailable.Say("ListDeviceCalls");
    return {};
}

void ClearDeviceCalls() { g_notAvailable.Say("ClearDeviceCalls"); }

std::vector<std::filesystem::path> ListEcImages() {
    g_notAvailable.Say("ListEcImages");
    return {};
}

}  // namespace plat
