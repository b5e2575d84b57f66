// kva catalogue make <folder>: a signed sample catalogue with real package archives.
#include <fstream>
#include <iostream>
#include <pugixml.hpp>

#include "CommonCfgEdit.h"
#include "KVADownload/Catalogue.h"
#include "KVADownload/UpdateService.h"
#include "ServeKit/CatalogueMaker.h"
#include "Util/CommonCfgMgr.h"
#include "Verbs.h"
#include "kva/platform/Clock.h"

namespace {

struct Options {
    std::string folder, key, model, configure;
    std::uint64_t version = 1;
    int days = 30;
    bool inventory = false;
    std::uint64_t payloadBytes = 0;
};

bool ReadOrMakeKey(const std::string& path, std::string* pem) {
    std::ifstream in(path);
    if (in) {
        *pem = std::string(std::istreambuf_iterator<char>(in), {});
        return !MakerPublicKey(*pem).empty();
    }
    std::string pub;
    if (!GenerateMakerKey(pem, &pub)) return false;
    std::ofstream out(path);
    return static_cast<bool>(out << *pem);
}

// Points the machine's common configuration at the service, keeping the rest of the file.
bool Configure(const std::string& url, const std::string& publicKey) {
    return kva::EditCommonCfg("UpdateService", [&](pugi::xml_node& service) {
        service.remove_attributes();
        service.append_attribute("url") = url.c_str();
        service.append_attribute("publicKey") = publicKey.c_str();
    });
}

void Make(const Options& o) {
    std::string pem;
    const std::string keyPath = o.key.empty() ? o.folder + ".key.pem" : o.key;
    if (!ReadOrMakeKey(keyPath, &pem)) {
        std::cerr << "kva catalogue make: cannot read or create the maker key " << keyPath << "\n";
        throw CLI::RuntimeError(1);
    }
    const std::string model = o.model.empty() ? ModelKey() : o.model;
    const std::int64_t expires = plat::CClock::Get().WallMs() / 1000 + std::int64_t(o.days) * 86400;
    if (!MakeSampleCatalogue(o.folder, pem, model, o.version, expires, o.payloadBytes)) {
        std::cerr << "kva catalogue make: cannot write " << o.folder << "\n";
        throw CLI::RuntimeError(1);
    }
    std::cout << "catalogue " << model << " version " << o.version << " in " << o.folder << "\n"
              << "maker key " << keyPath << " (keep it outside the served folder)\n"
              << "public key " << MakerPublicKey(pem) << "\n";
    if (!o.configure.empty()) {
        if (!Configure(o.configure, MakerPublicKey(pem))) {
            std::cerr << "kva catalogue make: cannot write " << CCommonCfgMgr::FilePath() << "\n";
            throw CLI::RuntimeError(1);
        }
        std::cout << "configured the machine to use " << o.configure << "\n";
    }
    if (o.inventory) {
        // Older versions than the catalogue's, so every package is offered.
        for (auto [id, v, name] : {std::tuple{"15", "22.100.0.1", "Wireless LAN Driver"},
                                   {"14", "6.0.9000.1", "Onboard Audio Driver"}, {"23", "1.0.10", "BIOS"},
                                   {"45", "3.3.0", "PD Controller Firmware"}, {"0", "5.0.0.1", "Pilotdeck"},
                                   {"101", "1.9.0", "Diagnose Analysis"}})
            SetInstalledVersion(id, v, name);
        std::cout << "installed older versions into the machine's inventory\n";
    }
}

}  // namespace

KVA_VERB(catalogue) {
    auto* cat = app.add_subcommand("catalogue", "Build update-service folders");
    cat->footer("Example:\n  kva catalogue make /tmp/svc --configure file:///tmp/svc --inventory\n");
    cat->require_subcommand(1);
    auto* make = cat->add_subcommand("make", "Write a signed sample catalogue with package archives");
    auto o = std::make_shared<Options>();
    make->add_option("folder", o->folder, "Service folder to write")->required();
    make->add_option("--key", o->key, "Maker's private key (PEM); made when missing. Default <folder>.key.pem");
    make->add_option("--model", o->model, "Machine model (default: this machine's)");
    make->add_option("--catalogue-version", o->version, "Catalogue version (never lower than one already accepted)");
    make->add_option("--days", o->days, "Days until the catalogue expires");
    make->add_option("--configure", o->configure, "Also point the machine's configuration at this service URL");
    make->add_option("--payload", o->payloadBytes, "Bytes of filler in every package archive (big downloads)")
        ->transform(CLI::AsSizeValue(false));
    make->add_flag("--inventory", o->inventory, "Also record older installed versions on the machine");
    make->callback([&globals, o] {
        if (!kva::PrepareMachine(globals)) throw CLI::RuntimeError(1);
        Make(*o);
    });
}
