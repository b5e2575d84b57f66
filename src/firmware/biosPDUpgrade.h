// The USB power-delivery controller's firmware upgrade: the image goes to the embedded
// controller's driver through a device I/O control, then an ACPI-WMI method starts the flash and
// a WMI event reports how it went.
//
// upgradePDVersion runs on the IPC thread that asked for it and blocks it until the outcome event
// (at most 120000 ms of clock time; at once when the stop event given to the constructor is set).
// GetWmiEventIDCallback runs on a WMI delivery thread. One upgrade at a time per process.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace plat {
class CEvent;
}

class UpgradePD {
public:
    // Result codes of upgradePDVersion.
    enum : int {
        kResultBadImage = -1,    // missing, unreadable, refused by the driver or of the wrong size
        kResultSuccess = 0,      // the firmware reported success (event 676) within the wait
        kResultNoSuccess = 1,    // event 677, or no event within the wait
        kResultRefused = 2,      // the method ran but its first output byte was not 0
        kResultMethodFailed = 3  // the WMI method call failed
    };
    static constexpr std::uint32_t kEventSuccess = 676;
    static constexpr std::uint32_t kEventFailure = 677;
    static constexpr std::uint32_t kWaitMs = 120000;

    // `stop` (the service's stop event) also ends the wait for the outcome.
    explicit UpgradePD(const plat::CEvent* stop = nullptr) : m_pStop(stop) {}
    UpgradePD(const UpgradePD&) = delete;
    UpgradePD& operator=(const UpgradePD&) = delete;

    int upgradePDVersion(const std::string& path);
    static bool driver_setting_bin(const std::uint8_t* data, std::uint32_t size);
    static void GetWmiEventIDCallback(std::uint32_t eventId);

private:
    bool ReadAndHandOver(const std::string& path);
    int RunFlash();
    int WaitForOutcome();

    const plat::CEvent* m_pStop;
    plat::CEvent* m_hEvent = nullptr;  // exists only during the wait; guarded by the running lock
    std::atomic<bool> m_bSuccess{false};
};
