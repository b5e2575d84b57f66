#include "CommonCfgEdit.h"

#include <filesystem>

#include "Util/CommonCfgMgr.h"

namespace kva {

bool EditCommonCfg(const char* element, const std::function<void(pugi::xml_node&)>& edit) {
    const auto file = CCommonCfgMgr::FilePath();
    pugi::xml_document doc;
    doc.load_file(file.c_str());
    auto root = doc.child("commoncfg");
    if (!root) root = doc.append_child("commoncfg");
    auto node = root.child(element);
    if (!node) node = root.append_child(element);
    edit(node);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    return doc.save_file(file.c_str());
}

}  // namespace kva
