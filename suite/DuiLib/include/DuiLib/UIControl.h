// Controls of a window, read from its layout XML: a tree of named controls with a text, a
// visibility, a font and a text colour. Controls belong to their window's CPaintManagerUI and are
// used on the UI thread only. A named control's text and visibility are published to the machine
// so that other processes (tests, `kva suite`) can read them through CUIAutomation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

// Notification types sent to INotifyUI::Notify.
inline constexpr const wchar_t* DUI_MSGTYPE_CLICK = L"click";
inline constexpr const wchar_t* DUI_MSGTYPE_TIMER = L"timer";
inline constexpr const wchar_t* DUI_MSGTYPE_MENU = L"menu";

struct TNotifyUI {
    std::wstring sType;
    CControlUI* pSender = nullptr;
    WPARAM wParam = 0;  // the timer id for "timer"
    LPARAM lParam = 0;
};

class INotifyUI {
public:
    virtual ~INotifyUI() = default;
    virtual void Notify(TNotifyUI& msg) = 0;
};

class CControlUI {
public:
    explicit CControlUI(std::wstring className = L"Control");
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;
    virtual ~CControlUI();

    const std::wstring& GetClass() const { return m_class; }
    const std::wstring& GetName() const { return m_name; }
    void SetName(std::wstring_view name);
    const std::wstring& GetText() const { return m_text; }
    void SetText(std::wstring_view text);
    // Own visibility; a control inside a hidden container is not shown either (IsShown).
    bool IsVisible() const { return m_visible; }
    void SetVisible(bool visible = true);
    bool IsShown() const;
    int GetFont() const { return m_font; }
    std::uint32_t GetTextColor() const { return m_textColor; }
    std::uint32_t GetTextStyle() const { return m_textStyle; }
    // Layout attributes: name, text, visible, font, textcolor (#AARRGGBB), width, height.
    void SetAttribute(std::wstring_view name, std::wstring_view value);
    int GetFixedWidth() const { return m_width; }
    int GetFixedHeight() const { return m_height; }

    CControlUI* GetParent() const { return m_parent; }
    CControlUI* Add(std::unique_ptr<CControlUI> child);
    int GetCount() const { return static_cast<int>(m_children.size()); }
    CControlUI* GetItemAt(int index) const;
    // This control or the first descendant (depth first) of that name.
    CControlUI* Find(std::wstring_view name);

    CPaintManagerUI* GetManager() const { return m_manager; }
    void SetManager(CPaintManagerUI* manager);
    // What a person's click does: the manager notifies "click" with this control as sender.
    bool Activate();

private:
    void Changed();

    std::wstring m_class;
    std::wstring m_name;
    std::wstring m_text;
    bool m_visible = true;
    int m_font = -1;
    std::uint32_t m_textColor = 0xFF000000;
    std::uint32_t m_textStyle = 0;
    int m_width = 0;
    int m_height = 0;
    CControlUI* m_parent = nullptr;
    CPaintManagerUI* m_manager = nullptr;
    std::vector<std::unique_ptr<CControlUI>> m_children;
};

}  // namespace DuiLib
