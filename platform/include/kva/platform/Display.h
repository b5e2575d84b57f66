// The display's DPI (GetDpiForSystem). The simulated machine reads the "dpi" fact (96 when absent
// or not a number from 48 to 960). Any thread.
#pragma once

#include "kva/platform/Types.h"

namespace plat {

DWORD GetSystemDpi();

}  // namespace plat
