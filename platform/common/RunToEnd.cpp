#include "RunToEnd.h"

#include <algorithm>

#include "kva/platform/Process.h"

namespace plat::detail {

int RunToEnd(const std::filesystem::path& path, const std::vector<std::string>& args, std::string* output,
             std::chrono::milliseconds realTimeout) {
    CChildProcess child;
    if (!child.Start(path, args)) return -1;
    std::string text, line;
    const auto deadline = std::chrono::steady_clock::now() + realTimeout;
    while (child.ReadLine(&line, std::chrono::duration_cast<std::chrono::milliseconds>(
                                     deadline - std::chrono::steady_clock::now()))) {
        text += line;
        text += '\n';
    }
    if (output) *output = std::move(text);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return child.Wait(std::max(left, std::chrono::milliseconds(0)));
}

}  // namespace plat::detail
