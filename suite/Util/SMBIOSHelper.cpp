#include "Util/SMBIOSHelper.h"

#include <optional>
#include <vector>

#include "Util/DriverInfoListMgr.h"
#include "Util/ProductAdapt.h"
#include "XmlConfigFile.h"
#include "kva/platform/Text.h"

namespace {

struct CSupportList {
    std::optional<std::vector<std::string>> patterns;  // none: no list configured
};

void ParseSupportList(const pugi::xml_document& doc, CSupportList& list) {
    const auto devices = doc.child("DriverCfg").child("SupportDevices");
    if (!devices) return;
    list.patterns.emplace();
    for (auto d : devices.children("Device")) {
        const std::string p = d.attribute("product").as_string();
        if (!p.empty()) list.patterns->push_back(plat::AsciiLower(p));
    }
}

bool Matches(const std::string& pattern, const std::string& product) {
    if (!pattern.empty() && pattern.back() == '*') return product.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0;
    return pattern == product;
}

}  // namespace

struct SMBIOSHelper::Impl {
    utilcfg::CXmlConfigFile<CSupportList> file{&CDriverInfoListMgr::FilePath, &ParseSupportList};
};

SMBIOSHelper* SMBIOSHelper::GetInstance() { return &TheInstance(); }

bool SMBIOSHelper::IsSupportDevice() {
    // A machine without a product name is supported only where no list restricts the models.
    std::wstring name;
    ProductAdapt::MachineType::GetInstance()->GetProductName(name);
    return IsSupportProduct(plat::ToUtf8(name));
}

bool SMBIOSHelper::IsSupportProduct(const std::string& productName) {
    const std::string product = plat::AsciiLower(productName);
    return m_impl->file.With([&](const CSupportList& list) {
        if (!list.patterns) return true;
        for (const auto& p : *list.patterns) {
            if (Matches(p, product)) return true;
        }
        return false;
    });
}
