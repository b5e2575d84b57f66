#include "DuiLib/UIAutomation.h"

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "DuiLib/UIMainQueue.h"
#include "DuiLib/UIMenu.h"
#include "DuiLib/WindowImplBase.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"

namespace DuiLib {

namespace {

using Ms = std::chrono::milliseconds;
constexpr Ms kAgentPoll{20};
constexpr Ms kAgentIdle{std::chrono::minutes(10)};  // only a lost ring waits this long
constexpr Ms kResultPoll{5};

struct Outcome {
    bool ok = false;
    std::int64_t value = 0;
};

// Runs one action on a window of this process; UI thread.
Outcome Run(plat::HWND hwnd, std::string_view verb, std::string_view arg, std::int64_t wParam, std::int64_t lParam) {
    WindowImplBase* wnd = CUIAutomation::FromHandle(hwnd);
    if (!wnd) return {};
    if (verb == "click") {
        CControlUI* control = wnd->GetPaintManager()->FindControl(plat::FromUtf8(arg));
        return {control && control->Activate(), 0};
    }
    if (verb == "menu") {
        auto* menu = dynamic_cast<CMenuWnd*>(wnd);
        if (!menu) menu = CMenuWnd::FindOpenMenu(hwnd);
        return {menu && menu->ChooseItem(plat::FromUtf8(arg)), 0};
    }
    if (verb == "message") {
        const auto msg = static_cast<UINT>(std::strtoul(std::string(arg).c_str(), nullptr, 10));
        return {true, static_cast<std::int64_t>(
                          wnd->SendMessage(msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)))};
    }
    KVA_LOG_ERROR("unknown window action " << verb);
    return {};
}

// This process's windows, and the thread that takes other processes' requests for them.
class CAgent {
public:
    static CAgent& Get() {
        static CAgent agent;
        return agent;
    }

    void Add(WindowImplBase* wnd) {
        {
            std::lock_guard lock(m_mtx);
            m_windows[wnd->GetHWND()] = wnd;
            if (!m_stop && !m_looping) {
                // The last one stopped when its windows were gone; it no longer needs the lock.
                if (m_thread.joinable()) m_thread.join();
                m_looping = true;
                m_thread = std::thread([this] { Loop(); });
            }
        }
        m_cv.notify_all();
    }
    void Remove(plat::HWND hwnd) {
        std::lock_guard lock(m_mtx);
        m_windows.erase(hwnd);
        if (m_windows.empty() && m_looping) plat::WakeAutomationWait();
    }
    WindowImplBase* Find(plat::HWND hwnd) {
        std::lock_guard lock(m_mtx);
        auto it = m_windows.find(hwnd);
        return it == m_windows.end() ? nullptr : it->second;
    }
    std::vector<WindowImplBase*> All() {
        std::lock_guard lock(m_mtx);
        std::vector<WindowImplBase*> out;
        for (const auto& [h, w] : m_windows) out.push_back(w);
        return out;
    }

    ~CAgent() {
        {
            std::lock_guard lock(m_mtx);
            m_stop = true;
        }
        m_cv.notify_all();
        plat::WakeAutomationWait();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    CAgent() = default;

    void Loop() {
        for (;;) {
            {
                // Without windows there is nothing to answer for: no thread, no wake-ups until the next.
                std::lock_guard lock(m_mtx);
                if (m_stop || m_windows.empty()) {
                    m_looping = false;
                    return;
                }
            }
            for (const auto& req : plat::TakeAutomationRequests(plat::CurrentProcessId())) Hand(req);
            // Real time on purpose: the owner must answer other processes even while a test holds
            // this process's clock still. A machine that cannot ring the owner is polled.
            if (!plat::WaitForAutomationRequest(kAgentIdle)) {
                std::unique_lock lock(m_mtx);
                m_cv.wait_for(lock, kAgentPoll, [&] { return m_stop; });
            }
        }
    }

    static void Hand(const plat::AutomationRequest& req) {
        const bool queued = UIMainQueue::getInstance()->dispatch([req] {
            const Outcome out = Run(req.hwnd, req.verb, req.arg, req.wParam, req.lParam);
            plat::FinishAutomationRequest(req.id, out.ok, out.value);
        });
        if (!queued) plat::FinishAutomationRequest(req.id, false, 0);
    }

    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::map<plat::HWND, WindowImplBase*> m_windows;
    std::thread m_thread;
    bool m_looping = false;  // m_thread runs Loop and has not left it
    bool m_stop = false;
};

std::optional<Outcome> Act(plat::HWND hwnd, std::string_view verb, std::string_view arg, std::int64_t wParam,
                           std::int64_t lParam, Ms timeout) {
    if (!hwnd) return std::nullopt;
    if (UIMainQueue::getInstance()->IsUIThread() && CAgent::Get().Find(hwnd)) {
        return Run(hwnd, verb, arg, wParam, lParam);
    }
    const std::int64_t id = plat::PostAutomationRequest(hwnd, verb, arg, wParam, lParam);
    if (!id) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto result = plat::ReadAutomationResult(id);
        if (!result) return std::nullopt;
        if (result->done) return Outcome{result->ok, result->value};
        if (std::chrono::steady_clock::now() >= deadline) {
            // Not taken back: the owner may still run it; its result is then simply never read.
            KVA_LOG_ERROR("window " << hwnd << " did not run " << verb << " " << arg << " in time");
            return std::nullopt;
        }
        std::this_thread::sleep_for(kResultPoll);
    }
}

}  // namespace

plat::HWND CUIAutomation::FindWindow(std::wstring_view className) { return plat::FindTopWindow(className); }

std::optional<std::wstring> CUIAutomation::GetControlText(plat::HWND hwnd, std::string_view control) {
    auto state = plat::ReadControl(hwnd, control);
    if (!state) return std::nullopt;
    return state->text;
}

std::optional<bool> CUIAutomation::IsControlShown(plat::HWND hwnd, std::string_view control) {
    auto state = plat::ReadControl(hwnd, control);
    if (!state) return std::nullopt;
    return state->visible;
}

std::vector<plat::ControlState> CUIAutomation::Controls(plat::HWND hwnd) { return plat::ListControls(hwnd); }

bool CUIAutomation::Click(plat::HWND hwnd, std::string_view control, Ms timeout) {
    auto out = Act(hwnd, "click", control, 0, 0, timeout);
    return out && out->ok;
}

bool CUIAutomation::ChooseMenuItem(plat::HWND hwnd, std::string_view item, Ms timeout) {
    auto out = Act(hwnd, "menu", item, 0, 0, timeout);
    return out && out->ok;
}

std::optional<std::int64_t> CUIAutomation::SendWindowMessage(plat::HWND hwnd, std::uint32_t msg, std::int64_t wParam,
                                                             std::int64_t lParam, Ms timeout) {
    auto out = Act(hwnd, "message", std::to_string(msg), wParam, lParam, timeout);
    if (!out || !out->ok) return std::nullopt;
    return out->value;
}

bool CUIAutomation::PostWindowMessage(plat::HWND hwnd, std::uint32_t msg, std::int64_t wParam, std::int64_t lParam) {
    return plat::PostAutomationRequest(hwnd, "message", std::to_string(msg), wParam, lParam) != 0;
}

void CUIAutomation::RegisterWindow(WindowImplBase* wnd) {
    if (wnd && wnd->GetHWND()) CAgent::Get().Add(wnd);
}

void CUIAutomation::UnregisterWindow(plat::HWND hwnd) { CAgent::Get().Remove(hwnd); }

WindowImplBase* CUIAutomation::FromHandle(plat::HWND hwnd) { return CAgent::Get().Find(hwnd); }

std::vector<WindowImplBase*> CUIAutomation::Windows() { return CAgent::Get().All(); }

}  // namespace DuiLib
