// kva settings [show | set NAME VALUE]: the user's own update switches, as the suite's settings
// page keeps them in the registry of the current user.
#include <iostream>
#include <memory>
#include <optional>

#include "Util/DE.h"
#include "Verbs.h"
#include "kva/platform/Text.h"

namespace {

enum class ESettingKind { kSwitch, kRemindMode, kAgreement };

struct CSetting {
    const char* name;
    const wchar_t* value;  // registry value name
    ESettingKind kind;
    const char* meaning;
};

// "driverRemind"/"selfRemind": 0 remind, 1 reminded once, 2 silenced until the next boot.
constexpr CSetting kSettings[] = {
    {"agreement", L"Protocol", ESettingKind::kAgreement, "the user accepted the agreement (nothing updates without it)"},
    {"idle-driver-updates", L"checkupdate", ESettingKind::kSwitch, "drivers update by themselves when the machine is idle"},
    {"silent-app-updates", L"selfupdate", ESettingKind::kSwitch, "the management application updates itself silently"},
    {"forced-updates", L"forceupdate", ESettingKind::kSwitch, "packages the maker marks as forced install at once"},
    {"driver-remind", L"driverRemind", ESettingKind::kRemindMode, "driver notice: 0 remind, 1 reminded, 2 silenced until reboot"},
    {"app-remind", L"selfRemind", ESettingKind::kRemindMode, "application notice: 0 remind, 1 reminded, 2 silenced until reboot"},
};

std::wstring KeyOf(const CSetting& s) {
    const std::wstring sid = VTPROCESS::GetCurrentUserSidstr();
    return sid + (s.kind == ESettingKind::kAgreement ? L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide"
                                                    : L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting");
}

// The stored value in words; "(not set)" when the service has not written it yet.
std::string Read(const CSetting& s) {
    if (s.kind == ESettingKind::kAgreement) {
        std::wstring text;
        if (!DE::Registry::GetValue(plat::kHKeyUsers, KeyOf(s), s.value, text)) return "(not set)";
        return text == L"1" ? "on" : "off";
    }
    plat::DWORD v = 0;
    if (!DE::Registry::GetValue(plat::kHKeyUsers, KeyOf(s), s.value, v)) return "(not set)";
    if (s.kind == ESettingKind::kSwitch) return v == 1 ? "on" : "off";
    return std::to_string(v);
}

std::optional<plat::DWORD> ParseValue(const CSetting& s, const std::string& text) {
    const std::string v = plat::AsciiLower(text);
    if (s.kind != ESettingKind::kRemindMode) {
        if (v == "on" || v == "1" || v == "true") return 1;
        if (v == "off" || v == "0" || v == "false") return 0;
        return std::nullopt;
    }
    if (v == "0" || v == "1" || v == "2") return static_cast<plat::DWORD>(v[0] - '0');
    return std::nullopt;
}

bool Write(const CSetting& s, plat::DWORD v) {
    if (s.kind == ESettingKind::kAgreement) {
        return DE::Registry::SetValue(plat::kHKeyUsers, KeyOf(s), s.value, std::wstring(v ? L"1" : L"0"));
    }
    return DE::Registry::SetValue(plat::kHKeyUsers, KeyOf(s), s.value, v);
}

const CSetting* Find(const std::string& name) {
    for (const CSetting& s : kSettings) {
        if (name == s.name || plat::FromUtf8(name) == s.value) return &s;
    }
    return nullptr;
}

void Show() {
    for (const CSetting& s : kSettings) {
        std::printf("%-20s %-10s %s\n", s.name, Read(s).c_str(), s.meaning);
    }
}

}  // namespace

KVA_VERB(settings) {
    auto* settings = app.add_subcommand("settings", "Show or change the user's update switches");
    settings->footer("Example:\n  kva settings set idle-driver-updates on\n  kva settings set driver-remind 0");
    auto prepare = [&globals] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
    };
    settings->add_subcommand("show", "Every switch with its value (the default)")->callback([=] {
        prepare();
        Show();
    });
    auto name = std::make_shared<std::string>();
    auto value = std::make_shared<std::string>();
    auto* set = settings->add_subcommand("set", "Change one switch: on/off, or 0/1/2 for the remind modes");
    set->add_option("name", *name, "agreement, idle-driver-updates, silent-app-updates, forced-updates, "
                                   "driver-remind or app-remind")->required();
    set->add_option("value", *value)->required();
    set->callback([=] {
        prepare();
        const CSetting* s = Find(*name);
        if (!s) {
            std::cerr << "kva settings set: no switch \"" << *name << "\"; `kva settings` lists them\n";
            throw CLI::RuntimeError(2);
        }
        const auto v = ParseValue(*s, *value);
        if (!v) {
            std::cerr << "kva settings set " << s->name << ": \"" << *value << "\" is not "
                      << (s->kind == ESettingKind::kRemindMode ? "0, 1 or 2" : "on or off") << "\n";
            throw CLI::RuntimeError(2);
        }
        if (!Write(*s, *v)) {
            std::cerr << "kva settings set " << s->name << ": the registry refused the write\n";
            throw CLI::RuntimeError(1);
        }
        std::cout << s->name << " = " << Read(*s) << "\n";
    });
    settings->callback([=] {
        if (settings->get_subcommands().empty()) {
            prepare();
            Show();
        }
    });
}
