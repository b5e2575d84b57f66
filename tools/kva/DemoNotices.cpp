#include "DemoNotices.h"

#include <filesystem>
#include <fstream>
#include <iostream>

#include "Util/DE.h"
#include "Util/KVASoftShelf.h"
#include "kva/platform/Types.h"

namespace kva {

bool SetDemoAppUpdatePath(const std::string& path) {
    const std::wstring setting = VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting";
    if (path == "silent" || path == "window") {
        const plat::DWORD agreed = path == "silent" ? 1 : 0;
        std::cout << "== the new application version comes " << (agreed ? "silently in a free scene" : "with the install window")
                  << " (\"selfupdate\" = " << agreed << ")\n";
        return DE::Registry::SetValue(plat::kHKeyUsers, setting, L"selfupdate", agreed);
    }
    if (path == "forced") {
        const auto file = CKVASoftShelf::FilePath();
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << R"(<softshelf it="true"><plugin name="MsgPop"/></softshelf>)";
        std::cout << "== the IT edition: the new application version is forced\n";
        return DE::Registry::SetValue(plat::kHKeyUsers, setting, L"forceupdate", plat::DWORD{1});
    }
    std::cerr << "kva demo: --app-update is silent, window or forced\n";
    return false;
}

std::vector<std::string> DemoNoticeSteps() {
    return {"--do", "mc wait-tip 30000", "--do", "mc option 0"};
}

}  // namespace kva
