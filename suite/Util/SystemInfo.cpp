#include "Util/SystemInfo.h"

#include <cstdlib>
#include <ctime>

#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace SystemInfo {

namespace {

std::optional<int> IntOverride(const char* fact) {
    auto v = plat::GetOverride(fact);
    if (!v) return std::nullopt;
    try {
        return std::stoi(*v);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

int GetTimeZone() {
    if (auto o = IntOverride("timezone")) return *o;
    const std::time_t now = static_cast<std::time_t>(plat::CClock::Get().WallMs() / 1000);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<int>(local.tm_gmtoff / 3600);
}

std::wstring GetUserLanguage() {
    if (auto o = plat::GetOverride("language")) return plat::FromUtf8(*o);
    const char* lang = std::getenv("LANG");
    std::string l = lang && *lang ? lang : "";
    // "zh_CN.UTF-8" -> "zh-CN"
    l = l.substr(0, l.find('.'));
    for (char& c : l) if (c == '_') c = '-';
    if (l.size() < 2 || l == "C" || l == "POSIX") l = "en-US";
    return plat::FromUtf8(l);
}

std::wstring getCurrentUserLanguage() { return GetUserLanguage(); }

int GetSystemDPI() { return IntOverride("dpi").value_or(96); }

}  // namespace SystemInfo
