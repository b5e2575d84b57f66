#include "kva/platform/Module.h"

#include <vector>

#include "Win32.h"
#include "kva/platform/Paths.h"

namespace plat {

HMODULE LoadModule(std::wstring_view path) {
    // The module's own folder comes first in the search for its dependencies, as for the host's
    // plug-ins beside it.
    const std::wstring full = ToHostPath(path).wstring();
    return ::LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void* GetModuleExport(HMODULE module, const char* name) {
    if (!module || !name) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<::HMODULE>(module), name));
}

bool FreeModule(HMODULE module) {
    if (!module) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::FreeLibrary(static_cast<::HMODULE>(module)) != FALSE;
}

std::wstring HostExecutablePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const ::DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<::DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return std::wstring(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

}  // namespace plat
