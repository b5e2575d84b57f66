// Run-time modules (LoadLibrary/GetProcAddress/FreeLibrary) and where the host executable lives.
#pragma once

#include <string>
#include <string_view>

#include "kva/platform/Types.h"

namespace plat {

// `path` may be a Windows path ("C:\\...\\X.dll") or a host path with "\\" separators appended.
// On failure returns null and sets the last error (kErrorModNotFound).
HMODULE LoadModule(std::wstring_view path);
// On failure returns null and sets the last error (kErrorProcNotFound).
void* GetModuleExport(HMODULE module, const char* name);
bool FreeModule(HMODULE module);

// Full path of the running executable (GetModuleFileName with no module). Empty on failure, with
// the last error set.
std::wstring HostExecutablePath();

}  // namespace plat
