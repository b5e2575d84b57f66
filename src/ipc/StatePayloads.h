// Readers of the coordination messages' payloads (system state, the application manager's and the
// settings window's answers, the UI status). Pure; any thread. Each takes the item's payload
// pointer and length as they arrived and never reads past them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace state_payload {

// The system-state record: the scene word and whether the message counts (byte 28 is 0).
struct SysState {
    std::uint32_t scene = 0;
    bool counts = false;
};
inline constexpr std::uint32_t kSceneFree = 1;
inline constexpr std::size_t kSysStateGuardOffset = 28;

// nullopt for no payload; a record too short to hold byte 28 does not count.
std::optional<SysState> ReadSysState(const char* data, std::int32_t length);

// The application manager's answer to the driver pop-up: "flag;id;version;id;version…".
struct AppMgAnswer {
    bool valid = false;  // at least one token
    bool show = true;    // the flag token is not "0"
    std::vector<std::pair<std::string, std::string>> ignored;
    bool danglingId = false;  // the last id had no version
    std::string dangling;
};
AppMgAnswer ReadAppMgAnswer(std::string_view text);

// Exactly `Size` bytes, or nullopt.
std::optional<std::uint32_t> ReadU32Exact(const char* data, std::int32_t length);
std::optional<std::uint8_t> ReadByteExact(const char* data, std::int32_t length);

// The UI status JSON: "strDriverID", "complete", "sourceType"; invalid JSON or wrong types keep
// the defaults.
struct UIStatus {
    std::string strDriverID;
    bool complete = false;
    std::int64_t sourceType = 1;
};
UIStatus ReadUIStatus(std::string_view text);

// The payload as text: up to its first zero byte, never past `length`.
std::string Text(const char* data, std::int32_t length);

}  // namespace state_payload
