// kva check: asks the configured update service now what is newer for this machine, and says in
// one line what to do when it cannot (no configuration, no service configured, no answer, a
// catalogue refused).
#include <filesystem>
#include <iostream>

#include "KVADownload/Catalogue.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Verbs.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::cerr << "kva check: " << what << "\n";
    throw CLI::RuntimeError(1);
}

}  // namespace

KVA_VERB(check) {
    auto* cmd = app.add_subcommand("check", "Ask the update service now what is newer for this machine");
    cmd->footer("Example:\n  kva --state /tmp/m check\n");
    cmd->callback([&globals] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        const std::string config = CCommonCfgMgr::FilePath().string();
        std::error_code ec;
        if (!std::filesystem::exists(config, ec))
            Fail("no configuration at " + config + "; make one with `kva catalogue make DIR --configure URL`");
        const std::string url = CCommonCfgMgr::getInstance().GetUpdateServiceUrl();
        if (url.empty())
            Fail("no update service in " + config + "; point it at one with `kva catalogue make DIR --configure URL`");
        std::vector<_TOBEUPDATE_DRIVER_INFO> offered;
        std::vector<_IGNORED_DRIVER_INFO> ignored;
        GetDriverNewVersionEx(offered, ignored, 1);
        if (const std::string error = LastCatalogueFetchError(); !error.empty())
            Fail("the update service " + url + " does not answer (" + error + "); start it with `kva serve DIR`, or fix the url in " + config);
        if (const std::string why = LastCatalogueRefusal(); !why.empty())
            Fail("the catalogue of " + url + " was refused: " + why);
        std::cout << "catalogue version " << GetAcceptedCatalogueVersion() << " from " << url << ": " << offered.size()
                  << " newer package(s)\n";
        for (const auto& p : offered) {
            std::cout << "  " << p.strDriverID << "  " << p.strDriverName << "  "
                      << (p.strCurVersion.empty() ? "-" : p.strCurVersion) << " -> " << p.versionInfo.strNextVersion << "\n";
        }
        for (const auto& p : ignored) std::cout << "  " << p.strDriverID << "  ignored by the user\n";
    });
}
