#include "kva/platform/Display.h"

#include "../common/FactOverrides.h"
#include "Win32.h"
#include "kva/platform/Machine.h"

namespace plat {

DWORD GetSystemDpi() {
    // The "dpi" fact wins, as on every backend, for trying a layout at another scale.
    if (auto fact = facts::ParseLong(GetOverride("dpi")); fact && *fact >= 48 && *fact <= 960) {
        return static_cast<DWORD>(*fact);
    }
    // GetDpiForSystem is Windows 10's; older systems (and Wine before it had it) answer through
    // the screen's device context.
    using GetDpiForSystemFn = UINT(WINAPI*)();
    static const auto getDpi = reinterpret_cast<GetDpiForSystemFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
    if (getDpi) return getDpi();
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<DWORD>(dpi) : 96;
}

}  // namespace plat
