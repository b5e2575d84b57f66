// UTF-8 <-> wide string conversion. The library keeps Windows' wide strings where its callers use
// them; the port stores and logs UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::string ToUtf8(std::wstring_view wide);
std::wstring FromUtf8(std::string_view utf8);

// ASCII case folding, as Windows compares registry paths, window classes and process names.
std::string AsciiLower(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace plat
