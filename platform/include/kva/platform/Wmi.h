// WMI queries. The simulated machine answers WQL of the form
//   SELECT <props|*> FROM Win32_Process [WHERE Name = '<exe>']
// in "ROOT\\CIMV2" from its process table; other classes and namespaces answer with an error.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace plat {

using WmiRow = std::map<std::string, std::string>;

// Rows of the query, or nullopt when the namespace, the class or the query is not understood.
std::optional<std::vector<WmiRow>> WmiQuery(const std::string& nameSpace, const std::string& wql);

}  // namespace plat
