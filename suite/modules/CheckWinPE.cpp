// "plugins/CheckWinPE.dll": whether the recovery image the caller names is present on the machine.
#include <cwchar>
#include <filesystem>

#include "kva/platform/Paths.h"
#include "kva/platform/Text.h"

namespace {
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorBadArguments = 87;
}  // namespace

// Returns 0 when `kind` is "WinPE" and the image at `path` (a Windows path, at most 260
// characters) exists; an error code otherwise.
extern "C" __attribute__((visibility("default"))) int CheckWinPE(const wchar_t* kind, const wchar_t* path) {
    if (!kind || !path || std::wcscmp(kind, L"WinPE") != 0) return kErrorBadArguments;
    const std::size_t len = std::wcslen(path);
    if (len == 0 || len >= 260) return kErrorBadArguments;
    std::error_code ec;
    return std::filesystem::is_regular_file(plat::ToHostPath(std::wstring_view(path, len)), ec) ? 0 : kErrorFileNotFound;
}
