#include "kva/platform/Text.h"

#include "../common/Utf8Decode.h"
#include "Win32.h"

namespace plat {

// A lone surrogate becomes U+FFFD (no WC_ERR_INVALID_CHARS): a bad character never fails a
// conversion.
std::string ToUtf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int len = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    // Windows replaces a bad sequence as a whole; the port replaces each bad byte, as the other
    // backend does, so text with bad bytes takes the shared decoder.
    const int len = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), len, nullptr, 0);
    if (n <= 0) return text::DecodeUtf8(utf8);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), len, out.data(), n);
    return out;
}

}  // namespace plat
