#include "ipc/MsgCenterRequest.h"

#include <cstring>

namespace {

template <class T>
void Put(std::vector<char>& out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

template <class T>
bool Take(const char*& p, const char* end, T& value) {
    if (static_cast<std::size_t>(end - p) < sizeof(T)) return false;
    value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<std::uint8_t>(p[i])) << (8 * i);
    p += sizeof(T);
    return true;
}

// Kinds whose tail is a list or one entry: this library never sends them.
bool HasListTail(std::uint32_t kind) {
    switch (kind) {
        case 1: case 6: case 8: case 9: case 10: case 11: case 12: return true;
        default: return false;
    }
}

}  // namespace

bool CMsgCenterRequest::HasKindValue() const {
    return (kind >= 2 && kind <= 5) || kind == 13 || kind == 14;
}

std::size_t CMsgCenterRequest::ComputedSize() const {
    return 1 + 1 + 4 + 8 + 8 + 4 + text.size() + 1 + (HasKindValue() ? 8 : 0);
}

std::vector<char> CMsgCenterRequest::Serialize() const {
    std::vector<char> out;
    if (HasListTail(kind)) return out;
    out.reserve(ComputedSize());
    out.push_back(static_cast<char>(kMarker));
    out.push_back(static_cast<char>(kVersion));
    Put(out, kind);
    Put(out, firstOwnerId);
    Put(out, secondOwnerId);
    Put(out, displayTimeMs);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back('\0');
    if (HasKindValue()) Put(out, kindValue);
    return out;
}

std::optional<CMsgCenterRequest> CMsgCenterRequest::Parse(const char* data, std::size_t length) {
    if (!data || length < 2) return std::nullopt;
    const char* p = data;
    const char* end = data + length;
    if (static_cast<std::uint8_t>(p[0]) != kMarker || static_cast<std::uint8_t>(p[1]) != kVersion) return std::nullopt;
    p += 2;
    CMsgCenterRequest r;
    if (!Take(p, end, r.kind) || HasListTail(r.kind) || !Take(p, end, r.firstOwnerId) ||
        !Take(p, end, r.secondOwnerId) || !Take(p, end, r.displayTimeMs))
        return std::nullopt;
    const void* zero = std::memchr(p, '\0', static_cast<std::size_t>(end - p));
    if (!zero) return std::nullopt;
    r.text.assign(p, static_cast<const char*>(zero));
    p = static_cast<const char*>(zero) + 1;
    if (r.HasKindValue() && !Take(p, end, r.kindValue)) return std::nullopt;
    if (p != end) return std::nullopt;
    return r;
}
