#include <cstdio>

#include "TestMachine.h"

namespace kvatest {

// cmd.exe runs the command; _pclose gives its exit code directly.
int RunCommand(const std::string& command, std::string* output) {
    FILE* p = _popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    while (std::size_t n = fread(buf, 1, sizeof(buf), p)) text.append(buf, n);
    const int status = _pclose(p);
    if (output) *output = text;
    return status;
}

}  // namespace kvatest
