#include "kva/platform/Module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "kva/platform/Paths.h"
#include "kva/platform/Text.h"

namespace plat {

HMODULE LoadModule(std::wstring_view path) {
    const std::filesystem::path host = ToHostPath(path);
    void* handle = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) SetLastError(kErrorModNotFound);
    return handle;
}

void* GetModuleExport(HMODULE module, const char* name) {
    if (!module || !name) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    void* sym = dlsym(module, name);
    if (!sym) SetLastError(kErrorProcNotFound);
    return sym;
}

bool FreeModule(HMODULE module) {
    if (!module) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    return dlclose(module) == 0;
}

std::wstring HostExecutablePath() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        SetLastError(kErrorFileNotFound);
        return {};
    }
    return FromUtf8(std::string_view(buf, static_cast<std::size_t>(n)));
}

}  // namespace plat
