#include "Util/WMI.h"

#include "kva/platform/Log.h"
#include "kva/platform/Wmi.h"

CWMI::CWMI(std::string nameSpace) : m_strNamespace(std::move(nameSpace)) {}

bool CWMI::Query(const std::string& wql, std::vector<std::map<std::string, std::string>>& rows) {
    auto result = plat::WmiQuery(m_strNamespace, wql);
    if (!result) {
        KVA_LOG_ERROR("WMI query failed in " << m_strNamespace << ": " << wql);
        return false;
    }
    rows = std::move(*result);
    return true;
}

std::string CWMI::QueryValue(const std::string& wql, const std::string& property) {
    std::vector<std::map<std::string, std::string>> rows;
    if (!Query(wql, rows) || rows.empty()) return {};
    auto it = rows.front().find(property);
    return it == rows.front().end() ? std::string() : it->second;
}
