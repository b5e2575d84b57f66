// Registry paths and Windows paths come from configuration and IPC text: neither may crash the
// machine or escape the state folder.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool opened = plat::OpenMachine(std::filesystem::temp_directory_path() / "kva-fuzz-machine");
    (void)opened;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = plat::FromUtf8(text);
    if (plat::FromUtf8(plat::ToUtf8(wide)) != wide) __builtin_trap();

    const std::filesystem::path host = plat::ToHostPath("C:\\" + text);
    const auto rel = host.lexically_relative(plat::StateFolder() / "drive_c");
    if (!rel.empty() && *rel.begin() == "..") __builtin_trap();

    plat::HKEY key = 0;
    if (plat::RegOpenKey(plat::kHKeyUsers, wide, plat::kKeyRead, &key) == plat::kErrorSuccess) plat::RegCloseKey(key);
    return 0;
}
