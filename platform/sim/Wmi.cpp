#include "kva/platform/Wmi.h"

#include <regex>

#include "kva/platform/Desktop.h"
#include "kva/platform/Text.h"

namespace plat {

std::optional<std::vector<WmiRow>> WmiQuery(const std::string& nameSpace, const std::string& wql) {
    if (!EqualsNoCase(nameSpace, "ROOT\\CIMV2")) return std::nullopt;
    static const std::regex kSelect(
        R"(^\s*SELECT\s+(\*|[A-Za-z_]+(?:\s*,\s*[A-Za-z_]+)*)\s+FROM\s+Win32_Process(?:\s+WHERE\s+Name\s*=\s*'([^']*)')?\s*$)",
        std::regex::icase);
    std::smatch m;
    if (!std::regex_match(wql, m, kSelect)) return std::nullopt;
    const bool filtered = m[2].matched;
    const std::string wanted = m[2].str();
    std::vector<WmiRow> rows;
    for (const auto& p : ListProcesses()) {
        const std::string name = ToUtf8(p.name);
        if (filtered && !EqualsNoCase(name, wanted)) continue;
        rows.push_back(WmiRow{{"Name", name}, {"ProcessId", std::to_string(p.pid)}});
    }
    return rows;
}

}  // namespace plat
