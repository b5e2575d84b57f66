#include "RegistryText.h"

#include <algorithm>

#include "kva/platform/Text.h"

namespace kva {

std::optional<CRegPath> ParseRegPath(const std::string& text) {
    std::string path = text;
    std::replace(path.begin(), path.end(), '/', '\\');
    const std::size_t cut = path.find('\\');
    const std::string root = plat::AsciiLower(path.substr(0, cut));
    CRegPath out;
    if (root == "hkey_local_machine" || root == "hklm") out.root = plat::kHKeyLocalMachine;
    else if (root == "hkey_users" || root == "hku") out.root = plat::kHKeyUsers;
    else return std::nullopt;
    std::string rest = cut == std::string::npos ? "" : path.substr(cut + 1);
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    out.subKey = plat::FromUtf8(rest);
    return out;
}

std::string FormatRegPath(const CRegPath& path) {
    const std::string root = path.root == plat::kHKeyLocalMachine ? "HKLM" : "HKU";
    return path.subKey.empty() ? root : root + "\\" + plat::ToUtf8(path.subKey);
}

std::string FormatRegValue(const plat::RegValue& value) {
    const std::string name = value.name.empty() ? "(default)" : plat::ToUtf8(value.name);
    if (value.isDword) return name + "  REG_DWORD  " + std::to_string(value.dword);
    return name + "  REG_SZ  \"" + plat::ToUtf8(value.text) + "\"";
}

}  // namespace kva
