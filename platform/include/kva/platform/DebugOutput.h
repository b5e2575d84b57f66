// The debugger output (OutputDebugStringW): text for a developer watching the process, not the
// log. The simulated machine appends it to "debug-output.txt" in the state folder. Any thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace plat {

void OutputDebugString(std::wstring_view text);
std::filesystem::path DebugOutputFile();

}  // namespace plat
