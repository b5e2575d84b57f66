// kva machine show | set <fact> <value> | reboot: read and change the simulated machine.
#include <iomanip>
#include <iostream>
#include <sstream>

#include "Verbs.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Power.h"
#include "kva/platform/Registry.h"
#include "kva/platform/SimDevices.h"
#include "kva/platform/Text.h"

namespace {

constexpr const wchar_t* kFullScreenClass = L"KvaFullScreenApp";
constexpr const wchar_t* kFullScreenProcess = L"fullscreen.exe";

std::string Hex(std::uint64_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

void ShowPower() {
    plat::PowerStatus ps;
    if (!plat::GetPowerStatus(&ps)) {
        std::cout << "power:       (status unavailable)\n";
        return;
    }
    std::cout << "ac line:     " << int(ps.ACLineStatus) << (ps.ACLineStatus == 1 ? " (online)" : ps.ACLineStatus == 0 ? " (offline)" : " (unknown)") << "\n";
    std::cout << "battery:     " << int(ps.BatteryLifePercent) << (ps.BatteryLifePercent == 255 ? " (no battery)" : " %") << "\n";
}

void ShowDisk() {
    std::uint64_t freeBytes = 0, total = 0;
    if (plat::GetDiskFreeSpace("C:\\", &freeBytes, &total)) {
        std::cout << "disk C:      " << std::fixed << std::setprecision(1) << freeBytes / 1073741824.0
                  << " GiB free of " << total / 1073741824.0 << " GiB\n";
    } else {
        std::cout << "disk C:      (unavailable)\n";
    }
}

void ShowWindowsAndProcesses() {
    std::cout << "\nprocesses:\n";
    for (const auto& p : plat::ListProcesses()) std::cout << "  " << std::setw(10) << p.pid << "  " << plat::ToUtf8(p.name) << "\n";
    std::cout << "\nwindows (topmost first):\n";
    for (const auto& w : plat::ListWindows()) {
        std::cout << "  " << std::setw(8) << Hex(w.hwnd) << "  class=\"" << plat::ToUtf8(w.className) << "\" title=\""
                  << plat::ToUtf8(w.title) << "\" " << (w.visible ? "visible" : "hidden") << " rect=" << w.rect.left << ","
                  << w.rect.top << "," << w.rect.right << "," << w.rect.bottom << " pid=" << w.processId << "\n";
    }
}

void ShowRegistry() {
    std::cout << "\nregistry:\n";
    for (const auto& key : plat::RegDumpAll()) {
        if (key.values.empty()) continue;
        std::cout << "  [" << plat::ToUtf8(key.path) << "]" << (key.isVolatile ? " (volatile)" : "") << "\n";
        for (const auto& v : key.values) {
            std::cout << "    " << plat::ToUtf8(v.name) << " = ";
            if (v.isDword) std::cout << "dword:" << v.dword << "\n";
            else std::cout << "\"" << plat::ToUtf8(v.text) << "\"\n";
        }
    }
}

void Show() {
    std::cout << "state folder: " << plat::StateFolder().string() << "\n";
    std::cout << "boot id:     " << plat::BootId() << "\n";
    std::cout << "product:     " << plat::ProductName() << "\n";
    std::cout << "user sid:    " << plat::ToUtf8(plat::CurrentUserSid()) << "\n";
    ShowPower();
    ShowDisk();
    auto overrides = plat::ListOverrides();
    if (!overrides.empty()) {
        std::cout << "overrides:  ";
        for (const auto& [k, v] : overrides) std::cout << " " << k << "=" << v;
        std::cout << "\n";
    }
    ShowWindowsAndProcesses();
    ShowRegistry();
}

// "10G", "512M", "1048576" → bytes.
bool ParseBytes(const std::string& text, std::uint64_t* out) {
    try {
        std::size_t used = 0;
        double v = std::stod(text, &used);
        std::string unit = plat::AsciiLower(text.substr(used));
        const double mult = unit.empty() || unit == "b" ? 1 : unit == "k" || unit == "kib" ? 1024.0
                          : unit == "m" || unit == "mib" ? 1048576.0 : unit == "g" || unit == "gib" ? 1073741824.0 : -1;
        if (mult < 0 || v < 0) return false;
        *out = static_cast<std::uint64_t>(v * mult);
        return true;
    } catch (...) {
        return false;
    }
}

bool SetNumberFact(const std::string& fact, const std::string& value, long lo, long hi) {
    if (value == "real") return plat::ClearOverride(fact);
    try {
        std::size_t used = 0;
        long v = std::stol(value, &used);
        if (used != value.size() || v < lo || v > hi) return false;
        return plat::SetOverride(fact, std::to_string(v));
    } catch (...) {
        return false;
    }
}

bool SetFullScreen(const std::string& value) {
    if (value == "on") {
        if (plat::FindTopWindow(kFullScreenClass)) return true;
        const plat::DWORD pid = plat::AddProcess(kFullScreenProcess);
        plat::Rect screen = plat::GetWindowInfo(plat::DesktopWindow())->rect;
        return plat::CreateTopWindow({0, kFullScreenClass, L"Full-screen application", true, screen, pid}) != 0;
    }
    if (value == "off") {
        while (plat::HWND h = plat::FindTopWindow(kFullScreenClass)) plat::DestroyTopWindow(h);
        plat::RemoveProcess(kFullScreenProcess);
        return true;
    }
    return false;
}

bool RemoveWindows(const std::string& cls) {
    bool any = false;
    while (plat::HWND h = plat::FindTopWindow(plat::FromUtf8(cls))) any = plat::DestroyTopWindow(h) || any;
    return any;
}

bool Set(const std::string& fact, const std::string& value) {
    if (fact == "battery") return SetNumberFact("battery", value, 0, 255);
    if (fact == "ac") return SetNumberFact("ac", value, 0, 255);
    if (fact == "disk-free") {
        std::uint64_t bytes = 0;
        if (value == "real") return plat::ClearOverride("disk-free");
        return ParseBytes(value, &bytes) && plat::SetOverride("disk-free", std::to_string(bytes));
    }
    if (fact == "product") return value == "real" ? plat::ClearOverride("product") : plat::SetOverride("product", value);
    if (fact == "screen") {
        int w = 0, h = 0;
        return std::sscanf(value.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0 && plat::SetOverride("screen", value);
    }
    if (fact == "fullscreen") return SetFullScreen(value);
    if (fact == "window-add") return plat::CreateTopWindow({0, plat::FromUtf8(value), L"", true, {0, 0, 800, 600}, plat::AddProcess(L"kva-window.exe")}) != 0;
    if (fact == "window-remove") return RemoveWindows(value);
    if (fact == "process-add") return plat::AddProcess(plat::FromUtf8(value)) != 0;
    if (fact == "process-remove") return plat::RemoveProcess(plat::FromUtf8(value));
    if (fact == "dpi") return SetNumberFact("dpi", value, 48, 960);
    if (fact == "pd") {
        if (value == "real" || value == "accept") return plat::ClearOverride("pd");
        return plat::ParsePdScript(value).has_value() && plat::SetOverride("pd", value);
    }
    if (fact == "reboot") {
        plat::SimulateReboot();
        return true;
    }
    return false;
}

}  // namespace

KVA_VERB(machine) {
    auto* machine = app.add_subcommand("machine", "Show or change the simulated machine");
    machine->require_subcommand(1);
    machine->add_subcommand("show", "Print the machine's facts, windows, processes and registry")
        ->callback([&globals] {
            if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
            Show();
        });
    auto* set = machine->add_subcommand(
        "set",
        "Change a fact: battery <0-100|255|real>, ac <0|1|real>, disk-free <bytes|10G|real>, product <name|real>, "
        "screen <WxH>, dpi <48-960|real>, fullscreen <on|off>, window-add <class>, window-remove <class>, process-add <exe>, "
        "process-remove <exe>, pd \"<open=fail ioctl=fail method=fail reply=N event=676|677|none delay=MS early "
        "input=u8>\"|accept, reboot");
    auto fact = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    set->add_option("fact", *fact, "Fact to change")->required();
    set->add_option("value", *value, "New value");
    set->callback([&globals, fact, value] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        if (*fact != "reboot" && value->empty()) {
            std::cerr << "kva machine set " << *fact << ": a value is needed\n";
            throw CLI::RuntimeError(2);
        }
        if (!Set(*fact, *value)) {
            std::cerr << "kva machine set: cannot set " << *fact << " to \"" << *value << "\"\n";
            throw CLI::RuntimeError(2);
        }
        std::cout << *fact << (value->empty() ? "" : " = " + *value) << "\n";
    });
    machine->add_subcommand("devices", "List what the EC device and the ACPI-WMI firmware were given")
        ->callback([&globals] {
            if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
            for (const auto& c : plat::ListDeviceCalls()) {
                std::cout << std::setw(6) << c.seq << "  " << c.device << "  " << c.call << "  " << c.detail
                          << (c.call == "ioctl" ? "  " + std::to_string(c.size) + " bytes" : "") << "\n";
            }
            for (const auto& image : plat::ListEcImages()) std::cout << "image: " << image.string() << "\n";
        });
    machine->add_subcommand("reboot", "Simulate a reboot: a new boot id, volatile keys gone")->callback([&globals] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        plat::SimulateReboot();
        std::cout << "rebooted, boot id " << plat::BootId() << "\n";
    });
}
