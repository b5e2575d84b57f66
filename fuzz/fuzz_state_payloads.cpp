// The coordination messages' payloads as any peer could send them: no reader may crash or read
// past the payload's length.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ipc/StatePayloads.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the length is caught by the sanitiser.
    auto copy = std::make_unique<char[]>(size == 0 ? 1 : size);
    for (std::size_t i = 0; i < size; ++i) copy[i] = static_cast<char>(data[i]);
    const auto len = static_cast<std::int32_t>(size);
    state_payload::ReadSysState(copy.get(), len);
    state_payload::ReadU32Exact(copy.get(), len);
    state_payload::ReadByteExact(copy.get(), len);
    const std::string text = state_payload::Text(copy.get(), len);
    if (text.size() > size) __builtin_trap();
    const auto answer = state_payload::ReadAppMgAnswer(text);
    if (answer.valid && text.find_first_not_of(';') == std::string::npos) __builtin_trap();
    state_payload::ReadUIStatus(text);
    return 0;
}
