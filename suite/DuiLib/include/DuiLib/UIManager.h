// The paint manager of one window: its control tree (built from a layout XML), its fonts, the
// timers set on its controls, and the notifiers that hear "click", "timer" and "menu" events.
// UI thread only, like the window.
//
// Layout files:
//   <Window size="360,40">
//     <Font id="0" size="12"/>
//     <HorizontalLayout name="ForceMsgTipsWnd">
//       <Label name="TxtMsgTips" font="0" textcolor="#FFFFFFFF"/>
//       <Button name="BtnCloseUI" text="x"/>
//     </HorizontalLayout>
//   </Window>
// Any element other than Font is a control of that class; attributes as CControlUI::SetAttribute.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DuiLib/UIControl.h"
#include "kva/platform/Desktop.h"

namespace DuiLib {

class WindowImplBase;

using UINT = std::uint32_t;

// DrawText flags the windows pass when measuring.
inline constexpr UINT DT_SINGLELINE = 0x0020;
inline constexpr UINT DT_CALCRECT = 0x0400;

class CPaintManagerUI {
public:
    explicit CPaintManagerUI(WindowImplBase* owner) : m_owner(owner) {}
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;
    ~CPaintManagerUI();

    // Builds the control tree from layout text or a file; false (logged) when it does not parse.
    bool LoadLayoutText(std::string_view xml);
    bool LoadLayoutFile(const std::filesystem::path& file);
    // Where a layout named as the windows name it ("../../res/layout/X.xml" or with backslashes)
    // is: the "layout" folder of the resource folder.
    static std::filesystem::path ResolveLayout(std::wstring_view skinFile);
    // The window size the layout asks for; 0,0 when it names none.
    std::pair<int, int> InitialSize() const { return m_size; }

    CControlUI* GetRoot() const { return m_root.get(); }
    void SetRoot(std::unique_ptr<CControlUI> root);
    CControlUI* FindControl(std::wstring_view name) const;

    // Timers on a control: each firing notifies "timer" with the control and the id. Setting an id
    // again restarts it.
    bool SetTimer(CControlUI* control, UINT id, UINT elapseMs);
    bool KillTimer(CControlUI* control, UINT id);
    void KillTimer(CControlUI* control);
    // Called by the window for its own WM_TIMER ids; true when the id was a control timer.
    bool OnWindowTimer(UINT windowTimerId);

    void AddNotifier(INotifyUI* notifier);
    void RemoveNotifier(INotifyUI* notifier);
    void SendNotify(CControlUI* sender, std::wstring_view type, WPARAM wParam = 0, LPARAM lParam = 0);

    // Headless text measuring (DrawText with DT_CALCRECT): a fixed advance per character of the
    // font's size, one line.
    plat::Rect CalcTextRect(std::wstring_view text, int font, UINT style, const plat::Rect& bounds) const;
    int FontSize(int font) const;

    // Publishes a named control's text and visibility for other processes.
    void ControlChanged(CControlUI* control);
    // Publishes every named control (after the window got its handle).
    void PublishAll();
    WindowImplBase* GetOwner() const { return m_owner; }

private:
    struct ControlTimer {
        CControlUI* control;
        UINT id;
    };

    WindowImplBase* m_owner;
    std::unique_ptr<CControlUI> m_root;
    std::map<int, int> m_fontSizes;
    std::pair<int, int> m_size{0, 0};
    std::map<UINT, ControlTimer> m_timers;  // window timer id -> control timer
    std::vector<INotifyUI*> m_notifiers;
};

}  // namespace DuiLib
