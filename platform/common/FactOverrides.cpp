#include "FactOverrides.h"

#include "kva/platform/Machine.h"

namespace plat::facts {

std::optional<long> ParseLong(const std::optional<std::string>& s) {
    if (!s) return std::nullopt;
    try {
        std::size_t used = 0;
        long v = std::stol(*s, &used);
        if (used != s->size()) return std::nullopt;
        return v;
    } catch (...) {
        return std::nullopt;
    }
}

bool PowerCallFails() {
    auto fail = GetOverride("power-fail");
    return fail && *fail == "1";
}

void ApplyPowerOverrides(PowerStatus* st) {
    if (auto b = ParseLong(GetOverride("battery")); b && *b >= 0 && *b <= 255) {
        st->BatteryLifePercent = static_cast<std::uint8_t>(*b);
        st->BatteryFlag = *b == 255 ? 128 : (*b > 66 ? 1 : *b < 33 ? 2 : 0);
    }
    if (auto ac = ParseLong(GetOverride("ac")); ac && (*ac == 0 || *ac == 1 || *ac == 255)) {
        st->ACLineStatus = static_cast<std::uint8_t>(*ac);
    }
}

void ApplyDiskOverride(std::uint64_t* freeToCaller, std::uint64_t* totalFree) {
    auto o = GetOverride("disk-free");
    if (!o) return;
    try {
        *freeToCaller = *totalFree = std::stoull(*o);
    } catch (...) {
    }
}

}  // namespace plat::facts
