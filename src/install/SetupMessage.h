// The setup request the service sends the suite's installer (message 0x30008), and the
// installer's answer. The request is also what the main UI sends for a manual install (0xF000F),
// so it is read back leniently. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "IPCMessage/IPCMessageItem.h"

// How long a driver's setup request waits for the installer's answer.
inline constexpr std::uint32_t kSetupTimeoutMs = 1200000;

// One setup request; the JSON keys are the member names.
struct _SETUP_DRIVER_MSG {
    std::string id;
    std::string strCurVersion;
    std::string strNextVersion;
    std::int32_t isInvolovedA = 0;
    std::int32_t updatetype = 1;
    std::string file;
    std::int32_t timeout = 0;
    std::int64_t fileSize = 0;
    std::vector<std::pair<std::string, std::string>> process_list;  // (name, description)
    std::vector<std::string> logdir_list;

    // Compact JSON, members in the order above.
    std::string ToJson() const;
    // Text that is not a JSON object gives the default record; absent keys, and keys of another
    // type, keep their defaults.
    static _SETUP_DRIVER_MSG FromJson(const std::string& text);
};

// The installer's answer: 8 bytes, the setup result (0: installed) and the installer's exit code,
// both unsigned 32-bit little-endian.
struct CSetupAnswer {
    enum class EKind { Valid, NoData, BadLength };
    EKind kind = EKind::BadLength;
    std::uint32_t result = 0xFFFFFFFF;
    std::uint32_t exitCode = 0;
};
CSetupAnswer ReadSetupAnswer(const tagIPC_MESSAGE_ITEM& answer);
// The 8 bytes of an answer.
std::string SetupAnswerBytes(std::uint32_t result, std::uint32_t exitCode);

// The finish notice for the UI (0x50013, 0x50014).
std::string FinishNoticeJson(const std::string& id);
