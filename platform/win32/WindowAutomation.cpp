// On Windows a window's controls are seen and driven through the window library's own
// accessibility (UI Automation), in the process that owns the window: the cross-process control
// table is the simulated machine's way of standing in for it. Here every call answers "nothing
// there" (no control, no request id, no result) and says once in the log why.
#include "kva/platform/WindowAutomation.h"

#include "Win32.h"

namespace plat {

namespace {

win32::CFirstCallNotice g_notAvailable(
    "window automation is the simulated machine's; on Windows the window library answers");

}  // namespace

bool PublishControl(HWND, std::string_view, std::wstring_view, bool) {
    g_notAvailable.Say("PublishControl");
    return false;
}

std::optional<ControlState> ReadControl(HWND, std::string_view) {
    g_notAvailable.Say("ReadControl");
    return std::nullopt;
}

std::vector<ControlState> ListControls(HWND) {
    g_notAvailable.Say("ListControls");
    return {};
}

std::int64_t PostAutomationRequest(HWND, std::string_view, std::string_view, std::int64_t, std::int64_t) {
    g_notAvailable.Say("PostAutomationRequest");
    return 0;
}

std::vector<AutomationRequest> TakeAutomationRequests(DWORD) {
    g_notAvailable.Say("TakeAutomationRequests");
    return {};
}

bool FinishAutomationRequest(std::int64_t, bool, std::int64_t) {
    g_notAvailable.Say("FinishAutomationRequest");
    return false;
}

// No request ever comes here, so the owner's agent only sleeps until it is told to stop: one
// process-wide auto-reset event instead of a poll loop that would wake a laptop every few ms.
namespace {
HANDLE Bell() {
    static const HANDLE bell = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return bell;
}
}  // namespace

bool WaitForAutomationRequest(std::chrono::milliseconds realTimeout) {
    if (Bell() == nullptr) return false;
    WaitForSingleObject(Bell(), static_cast<DWORD>(realTimeout.count()));
    return true;
}

void WakeAutomationWait() {
    if (Bell() != nullptr) SetEvent(Bell());
}

std::optional<AutomationResult> ReadAutomationResult(std::int64_t) {
    g_notAvailable.Say("ReadAutomationResult");
    return std::nullopt;
}

}  // namespace plat
