// What other processes may see of a window's controls, and the requests they leave for the
// process that owns a window (click a control, choose a menu item, send a message).
//
// A window lives in the process that created it; only that process runs its code. So a tool or a
// test in another process reads the controls' published state directly and acts by leaving a
// request: the owner's window library takes the requests of its windows, runs them on its UI
// thread and records each result. On the simulated machine both are rows of the machine database.
// Any thread may call these functions.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kva/platform/Types.h"

namespace plat {

struct ControlState {
    std::string name;
    std::wstring text;
    bool visible = false;
};

// Owner side: the state of one named control of `hwnd` (replaces what was published before).
bool PublishControl(HWND hwnd, std::string_view name, std::wstring_view text, bool visible);
std::optional<ControlState> ReadControl(HWND hwnd, std::string_view name);
std::vector<ControlState> ListControls(HWND hwnd);

struct AutomationRequest {
    std::int64_t id = 0;
    HWND hwnd = 0;
    std::string verb;  // "click", "menu", "message"
    std::string arg;   // control or menu item name
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
};

struct AutomationResult {
    bool done = false;  // false while the owner has not run the request
    bool ok = false;
    std::int64_t value = 0;
};

// Leaves a request for the owner of `hwnd`; its id, 0 when the window does not exist.
std::int64_t PostAutomationRequest(HWND hwnd, std::string_view verb, std::string_view arg, std::int64_t wParam = 0,
                                   std::int64_t lParam = 0);
// Owner side: takes (and marks taken) the waiting requests for windows of process `pid`, oldest first.
std::vector<AutomationRequest> TakeAutomationRequests(DWORD pid);
bool FinishAutomationRequest(std::int64_t id, bool ok, std::int64_t value);
// Owner side: waits up to `realTimeout` of real time for a request to be posted for a window of
// this process, or for WakeAutomationWait. True when it waited (or should look again at once);
// false at once when this machine has no way to ring the owner, which must then poll.
bool WaitForAutomationRequest(std::chrono::milliseconds realTimeout);
// Ends this process's WaitForAutomationRequest now.
void WakeAutomationWait();
// The request's result; nullopt for an unknown id. A finished request is forgotten once read.
std::optional<AutomationResult> ReadAutomationResult(std::int64_t id);

}  // namespace plat
