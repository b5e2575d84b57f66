#include "kva/platform/Display.h"

#include <string>

#include "kva/platform/Machine.h"

namespace plat {

DWORD GetSystemDpi() {
    constexpr DWORD kDefault = 96;
    auto fact = GetOverride("dpi");
    if (!fact) return kDefault;
    try {
        const unsigned long dpi = std::stoul(*fact);
        return dpi >= 48 && dpi <= 960 ? static_cast<DWORD>(dpi) : kDefault;
    } catch (...) {
        return kDefault;
    }
}

}  // namespace plat
