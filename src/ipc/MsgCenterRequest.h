// The message-centre request (0x40003 to 0x40000): the record the service's own notice and the
// restart reminder send to ask the suite's message centre for a pop-up. Little-endian, unpacked:
// marker 0xFC, version 1, kind (u32), first and second owner id (u64 each), display time in ms
// (u32), the text with a terminating zero, and for kinds 2-5, 13 and 14 the kind's 64-bit value.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CMsgCenterRequest {
    static constexpr std::uint8_t kMarker = 0xFC;
    static constexpr std::uint8_t kVersion = 1;
    static constexpr std::uint32_t kKindPopup = 4;
    static constexpr std::uint32_t kDefaultDisplayMs = 5000;

    std::uint32_t kind = kKindPopup;
    std::uint64_t firstOwnerId = 0;
    std::uint64_t secondOwnerId = 0;
    std::uint32_t displayTimeMs = kDefaultDisplayMs;
    std::string text;
    std::uint64_t kindValue = 0;

    // Whether this kind carries the 64-bit kind value at its end.
    bool HasKindValue() const;
    // The size the serialisation must have: 35 bytes for kind 4 with empty text.
    std::size_t ComputedSize() const;
    // Only kinds whose tail is the kind value (or nothing) are written; others give an empty vector.
    std::vector<char> Serialize() const;
    // The reverse, for the message centre's side; nullopt for anything that is not such a request.
    static std::optional<CMsgCenterRequest> Parse(const char* data, std::size_t length);
};
