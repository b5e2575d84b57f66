#include "Util/KVASoftShelf.h"

#include <set>
#include <utility>

#include "Util/SuitePaths.h"
#include "XmlConfigFile.h"
#include "kva/platform/Paths.h"

namespace {

struct CEdition {
    bool it = false;
    bool beta = false;
    bool whiteLogo = false;
    std::set<std::string> plugins{"MsgPop"};
    std::set<std::pair<std::string, std::string>> properties;
};

void ParseEdition(const pugi::xml_document& doc, CEdition& e) {
    const auto root = doc.child("softshelf");
    e.it = root.attribute("it").as_bool(false);
    e.beta = root.attribute("beta").as_bool(false);
    e.whiteLogo = root.attribute("whiteLogo").as_bool(false);
    e.plugins.clear();
    for (auto p : root.children("plugin")) e.plugins.insert(p.attribute("name").as_string());
    for (auto p : root.children("property")) {
        e.properties.emplace(p.attribute("name").as_string(), p.attribute("value").as_string());
    }
}

}  // namespace

struct CKVASoftShelf::Impl {
    utilcfg::CXmlConfigFile<CEdition> file{&CKVASoftShelf::FilePath, &ParseEdition};
};

CKVASoftShelf* CKVASoftShelf::GetInstance() { return &TheInstance(); }

std::filesystem::path CKVASoftShelf::FilePath() {
    return plat::ToHostPath(suite::ConfigFolder() + "\\SoftShelf.xml");
}

bool CKVASoftShelf::IsITVersion() {
    return GetInstance()->m_impl->file.With([](const CEdition& e) { return e.it; });
}

bool CKVASoftShelf::IsBetaVersion() {
    return m_impl->file.With([](const CEdition& e) { return e.beta; });
}

bool CKVASoftShelf::IsWhiteLogoMachineType() {
    return m_impl->file.With([](const CEdition& e) { return e.whiteLogo; });
}

int CKVASoftShelf::IsSupportPlugin(const std::string& plugin) {
    return m_impl->file.With([&](const CEdition& e) { return e.plugins.count(plugin) ? 1 : 0; });
}

int CKVASoftShelf::IsSupportProperty(const std::string& property, const std::string& value) {
    return m_impl->file.With([&](const CEdition& e) { return e.properties.count({property, value}) ? 1 : 0; });
}
