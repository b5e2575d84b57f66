#include "Util/DriverInfoListMgr.h"

#include <map>

#include "Util/SuitePaths.h"
#include "XmlConfigFile.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Text.h"

namespace {

struct CDriverEntry {
    std::wstring appName;
    std::uint32_t type = CDriverInfoListMgr::kTypeDriver;
    std::vector<std::string> depends;
};

using CDriverTable = std::map<std::string, CDriverEntry>;

void ParseDriverTable(const pugi::xml_document& doc, CDriverTable& table) {
    for (auto d : doc.child("DriverCfg").children("Driver")) {
        const std::string id = d.attribute("id").as_string();
        if (id.empty()) continue;
        CDriverEntry& e = table[id];
        e.appName = plat::FromUtf8(d.attribute("appName").as_string());
        e.type = d.attribute("type").as_uint(CDriverInfoListMgr::kTypeDriver);
        for (auto dep : d.children("Depend")) {
            const std::string depId = dep.attribute("id").as_string();
            if (!depId.empty()) e.depends.push_back(depId);
        }
    }
}

}  // namespace

struct CDriverInfoListMgr::Impl {
    utilcfg::CXmlConfigFile<CDriverTable> file{&CDriverInfoListMgr::FilePath, &ParseDriverTable};

    template <class F, class R>
    R Find(const std::string& code, F get, R otherwise) {
        return file.With([&](const CDriverTable& t) {
            auto it = t.find(code);
            return it == t.end() ? otherwise : get(it->second);
        });
    }
};

CDriverInfoListMgr& CDriverInfoListMgr::getInstance() { return TheInstance(); }

std::filesystem::path CDriverInfoListMgr::FilePath() {
    return plat::ToHostPath(suite::ConfigFolder() + "\\DriverCfg.xml");
}

std::wstring CDriverInfoListMgr::getAppName(const std::string& code) {
    return m_impl->Find(code, [](const CDriverEntry& e) { return e.appName; }, std::wstring());
}

std::uint32_t CDriverInfoListMgr::getDrvType(const std::string& code) {
    return m_impl->Find(code, [](const CDriverEntry& e) { return e.type; }, kTypeDriver);
}

std::vector<std::string> CDriverInfoListMgr::getDrvDepend(const std::string& code) {
    return m_impl->Find(code, [](const CDriverEntry& e) { return e.depends; }, std::vector<std::string>());
}
