// The restart part of `kva demo`: once every package is installed and one of them needs a restart,
// the service asks the message centre of `kva suite` for the prompt. The demo answers as the user:
// "postpone" with the 10-minute item, waits for the prompt to come back on the service's clock,
// then "restart now", after which the suite's installer reboots the simulated machine. Driven by
// the suite's output lines; acts on the reminder window through the window library's automation.
// One thread.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

namespace kva {

class CDemoRestart {
public:
    // `scale`: the service clock's speed, to tell the postponement in service time.
    explicit CDemoRestart(double scale) : m_scale(scale) {}

    // Reads one output line of `kva suite`; true when it belonged to the restart and was told.
    bool OnSuiteLine(const std::string& line, std::ostream& out);
    // The prompt was seen and the machine has not rebooted yet.
    bool InProgress() const { return m_step != EStep::kWaitingForPrompt && m_step != EStep::kRebooted; }
    bool Rebooted() const { return m_step == EStep::kRebooted; }

private:
    enum class EStep { kWaitingForPrompt, kPostponed, kRestartAsked, kRebooted };

    void OnPrompt(std::ostream& out);

    double m_scale;
    EStep m_step = EStep::kWaitingForPrompt;
    std::chrono::steady_clock::time_point m_postponedAt;
    std::string m_bootId;
};

}  // namespace kva
