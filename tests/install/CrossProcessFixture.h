// A fresh machine for the suite's real processes: `kva serve` of a signed sample catalogue,
// `kva suite`, `kva host`, on a scaled clock. The test's own process sets the machine up and reads
// what the others left on it.
#pragma once

#include <string>
#include <vector>

#include "TestMachine.h"
#include "kva/platform/Process.h"


namespace kvatest {

class CCrossProcessTest : public CTestMachine {
protected:
    void TearDown() override;
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

    // The signed sample catalogue with the machine's inventory, in the test's "service" folder.
    std::filesystem::path MakeService();
    // Serves Service(), configures the machine for it and starts `kva suite` (with `suiteArgs`)
    // and `kva host`; stopped in this order's reverse when the test ends.
    void StartRoad(std::vector<std::string> suiteArgs = {});
    std::filesystem::path Service() const { return State() / "service"; }
    // Every log line the machine's processes wrote so far.
    std::string Logs() const;
    bool Logged(const std::string& text) const { return Logs().find(text) != std::string::npos; }

    plat::CChildProcess m_serve, m_suite, m_host;
};

}  // namespace kvatest
