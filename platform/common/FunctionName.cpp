#include <string>
#include <string_view>

#include "kva/platform/Log.h"

namespace plat {

std::string QualifiedFunctionName(std::string_view pretty) {
    // Cut the argument list: the first '(' at template depth 0 that is not part of "(anonymous".
    int depth = 0;
    std::size_t end = pretty.size();
    for (std::size_t i = 0; i < pretty.size(); ++i) {
        const char c = pretty[i];
        if (c == '<') ++depth;
        else if (c == '>') --depth;
        else if (c == '(' && depth == 0) {
            if (pretty.substr(i, 11) == "(anonymous " || pretty.substr(i, 8) == "(lambda)") {
                continue;
            }
            end = i;
            break;
        }
    }
    std::string_view head = pretty.substr(0, end);
    // Drop the return type: the name starts after the last space at template depth 0.
    depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const char c = head[i];
        if (c == '<') ++depth;
        else if (c == '>') --depth;
        else if (c == ' ' && depth == 0) start = i + 1;
    }
    std::string name(head.substr(start));
    // Namespaces of ours are not part of the name the log shows.
    for (const char* ns : {"plat::", "kva::", "(anonymous namespace)::"}) {
        if (name.rfind(ns, 0) == 0) name.erase(0, std::string_view(ns).size());
    }
    return name;
}

}  // namespace plat
