// A child for the tests of ReadStandardInput: prints what its standard input gives, in the order
// it came, as "bytes:<text>" per read, "wait" when nothing came in time and "end" at the end.
#include <cstdio>
#include <string>

#include "kva/platform/Process.h"

int main() {
    char buffer[256];
    for (int reads = 0; reads < 1000; ++reads) {
        const long n = plat::ReadStandardInput(buffer, sizeof(buffer), std::chrono::milliseconds(100));
        if (n == -1) {
            std::puts("wait");
        } else if (n <= 0) {
            std::puts(n == 0 ? "end" : "error");
            return n == 0 ? 0 : 1;
        } else {
            std::printf("bytes:%s\n", std::string(buffer, static_cast<std::size_t>(n)).c_str());
        }
        std::fflush(stdout);
    }
    return 2;
}
