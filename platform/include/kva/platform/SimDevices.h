// The simulated machine's embedded-controller device and ACPI-WMI firmware: how they answer, and
// what they were given. The script is the machine fact "pd" (kva machine set pd "<tokens>"), read
// at every call, so another process can change it while the service runs. Tokens:
//   open=fail        the EC device cannot be opened
//   ioctl=fail       the EC device refuses the image
//   method=fail      the WMI method call fails
//   reply=N          first output byte of the method (0 accepts; anything else refuses)
//   event=676|677|none   the outcome event after a flash command (default 676)
//   delay=MS         service milliseconds between the method and the event (default 5000)
//   early            the event comes before the method returns
//   input=u8         the method's input has only "u8Input" (no "u64Input")
// No script: accept, event 676 after 5000 ms.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat {

struct PdScript {
    bool openFails = false;
    bool ioctlFails = false;
    bool methodFails = false;
    std::uint8_t reply = 0;
    std::optional<std::uint32_t> eventId = 676;  // nullopt: no event
    std::uint32_t delayMs = 5000;
    bool early = false;
    bool u8InputOnly = false;
};

// Nullopt when a token is not understood.
std::optional<PdScript> ParsePdScript(const std::string& text);
PdScript CurrentPdScript();

// One call the devices saw, oldest first. `call` is "open", "open-failed", "ioctl", "close" or
// "method"; `detail` is the control code, or for "method" the input property and its value
// ("u64Input=3334", "u8Input=06 0d 00 ..."), or for "open" "service-path=N" (the
// KVAServicePath value when the device was opened; -1 when absent).
struct DeviceCall {
    std::int64_t seq = 0;
    std::string device;
    std::string call;
    std::string detail;
    std::int64_t size = 0;
};
std::vector<DeviceCall> ListDeviceCalls();
void ClearDeviceCalls();
// The images the EC device was given, oldest first (files in the state folder).
std::vector<std::filesystem::path> ListEcImages();

}  // namespace plat
