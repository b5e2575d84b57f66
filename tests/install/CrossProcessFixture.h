// A fresh machine for the suite's real processes: `kva serve` of a signed sample catalogue,
// `kva suite`, `kva host`, on a scaled clock. The test's own process sets the machine up and reads
// what the others left on it.
#pragma once

#include <string>
#include <vector>

#include "TestMachine.h"

namespace plat {
class CChildProcess;
}

namespace kvatest {

class CCrossProcessTest : public CTestMachine {
protected:
    // `tail` after the machine's --state (and --time-scale 60 when scaled).
    std::vector<std::string> Args(std::vector<std::string> tail, bool scaled = true) const;
    // Runs a kva verb to its end on this machine; its output. A failing verb fails the test.
    std::string Kva(const std::string& args);
    // The configuration `kva catalogue make` wrote, pointed at `url`, with a short schedule and
    // the audio driver allowed to install when idle; the user agreed and opened idle updates.
    void Configure(const std::string& url);
    // Starts `kva serve` of `service` on a free port; its URL, or empty when it did not start.
    std::string Serve(const std::string& service, plat::CChildProcess& serve);
    static std::size_t Count(int shortEventNumber);
};

}  // namespace kvatest
