#include "DemoRestart.h"

#include <cstdio>
#include <thread>

#include "DemoPackages.h"
#include "DuiLib/UIAutomation.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace kva {

namespace {

constexpr wchar_t kReminderClass[] = L"ForceUpRemindRestartDlg";

std::string ControlText(plat::HWND wnd, const char* control) {
    const auto text = DuiLib::CUIAutomation::GetControlText(wnd, control);
    return text ? plat::ToUtf8(*text) : std::string();
}

}  // namespace

void CDemoRestart::OnPrompt(std::ostream& out) {
    const plat::HWND wnd = DuiLib::CUIAutomation::FindWindow(kReminderClass);
    if (!wnd) {
        StoryLine(out, "restart", "", "the message centre got a request, but no reminder window is there");
        return;
    }
    if (m_step == EStep::kWaitingForPrompt) {
        StoryLine(out, "restart", "", "every package is installed: the message centre shows the prompt");
        StoryLine(out, "", "", "  \"" + ControlText(wnd, "txtContent") + "\"  [" + ControlText(wnd, "btnNow") + "]");
        const bool done = DuiLib::CUIAutomation::Click(wnd, "btnPostpone") &&
                          DuiLib::CUIAutomation::ChooseMenuItem(wnd, "menuRemind10Min");
        StoryLine(out, "demo", "", done ? std::string("answers \"postpone\": remind me in 10 minutes")
                                        : std::string("could not answer \"postpone\" (see the host's log)"));
        m_postponedAt = std::chrono::steady_clock::now();
        m_step = EStep::kPostponed;
        return;
    }
    if (m_step == EStep::kPostponed) {
        const double minutes =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_postponedAt).count() * m_scale / 60;
        char text[96];
        std::snprintf(text, sizeof(text), "the prompt is back, %.1f minutes of service time later", minutes);
        StoryLine(out, "restart", "", text);
        m_bootId = plat::BootId();
        const bool done = DuiLib::CUIAutomation::Click(wnd, "btnNow");
        StoryLine(out, "demo", "", done ? std::string("answers \"restart now\"") : std::string("could not press \"restart now\""));
        m_step = EStep::kRestartAsked;
    }
}

bool CDemoRestart::OnSuiteLine(const std::string& line, std::ostream& out) {
    // The reminder's pop-up request, each time it wants to be seen.
    if (line.rfind("msgcentre request from", 0) == 0) {
        OnPrompt(out);
        return true;
    }
    if (line.rfind("installer reboot", 0) == 0 || line.rfind("installer shutdown", 0) == 0) {
        const bool reboot = line.rfind("installer reboot", 0) == 0;
        // The installer says so just before it reboots the machine.
        for (int i = 0; i < 100 && plat::BootId() == m_bootId; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        StoryLine(out, "restart", "",
                  std::string("the suite's installer ") + (reboot ? "restarts" : "shuts down") +
                      " the machine: boot id " + m_bootId.substr(0, 8) + " -> " + plat::BootId().substr(0, 8));
        m_step = EStep::kRebooted;
        return true;
    }
    return false;
}

}  // namespace kva
