#include "kva/platform/DebugOutput.h"

#include <fstream>
#include <mutex>

#include "Win32.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

std::filesystem::path DebugOutputFile() { return StateFolder() / "debug-output.txt"; }

void OutputDebugString(std::wstring_view text) {
    // To an attached debugger, and to the file `kva` reads, as the simulated machine does.
    ::OutputDebugStringW(win32::Z(text).c_str());
    static std::mutex mtx;
    std::lock_guard lock(mtx);
    std::ofstream out(DebugOutputFile(), std::ios::binary | std::ios::app);
    out << ToUtf8(text);
}

}  // namespace plat
