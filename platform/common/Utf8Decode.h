// UTF-8 to wide text where every byte that is not part of a well-formed sequence becomes one
// U+FFFD, so a bad byte never fails a conversion and every backend gives the same text for it.
// Internal to the platform library.
#pragma once

#include <string>
#include <string_view>

namespace plat::text {

std::wstring DecodeUtf8(std::string_view utf8);

}  // namespace plat::text
