// A WMI connection to one namespace, for queries.
#pragma once

#include <map>
#include <string>
#include <vector>

class CWMI {
public:
    explicit CWMI(std::string nameSpace = "ROOT\\CIMV2");
    // Runs a WQL query; false when it cannot be run. Each row maps property names to text.
    bool Query(const std::string& wql, std::vector<std::map<std::string, std::string>>& rows);
    // The first row's value of `property`, or empty.
    std::string QueryValue(const std::string& wql, const std::string& property);

private:
    std::string m_strNamespace;
};
