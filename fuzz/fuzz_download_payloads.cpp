// What reaches the download library from outside: request JSON from IPC, the catalogue and its
// package descriptions from the service, package archives. None may crash, and a package id or
// version that passes the path check never leaves the download folder.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "KVADownload/Catalogue.h"
#include "KVADownload/Folders.h"
#include "KVADownload/PackageJson.h"
#include "KVADownload/UpdateInfo.h"
#include "KVADownload/Version.h"
#include "KVADownload/ZipArchive.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    static const fs::path work = fs::temp_directory_path() / "kva-fuzz-download";
    static bool opened = plat::OpenMachine(work / "machine");
    (void)opened;
    const std::string text(reinterpret_cast<const char*>(data), size);

    const download_param p(text);
    if (download_param(p.ToJson()).strDriverID != p.strDriverID) __builtin_trap();
    _TOBEUPDATE_DRIVER_INFO info;
    PackageFromJson(nlohmann::json::parse(text, nullptr, false), info);
    CompareVersion(text, text);

    const std::string path = GetDownloadPath(p.strDriverID, p.strNextVersion, 0, 1);
    if (!path.empty()) {
        const auto rel = plat::ToHostPath(path).lexically_relative(plat::ToHostPath(GetAppDataFolder()));
        if (rel.empty() || *rel.begin() == "..") __builtin_trap();
    }

    std::string why;
    CheckCatalogue(text, "AAAA", std::vector<unsigned char>(32, 1), 0, 0, &why);

    const fs::path zip = work / "in.zip";
    std::ofstream(zip, std::ios::binary | std::ios::trunc) << text;
    std::string error;
    std::vector<std::string> names;
    const fs::path out = work / "out";
    ExtractZipArchive(zip, out, &names, &error);
    for (const auto& n : names) {
        const auto rel = (out / n).lexically_normal().lexically_relative(out);
        if (rel.empty() || *rel.begin() == "..") __builtin_trap();
    }
    fs::remove_all(out);
    return 0;
}
