// A pop-up menu: a window of items ("MenuElement" controls). Choosing an item (a click on it, or
// CUIAutomation::ChooseMenuItem) notifies the owner with "menu" and the item as sender, then
// closes the menu. The creator owns the object; UI thread only.
#pragma once

#include <string_view>

#include "DuiLib/WindowImplBase.h"

namespace DuiLib {

class CMenuWnd : public WindowImplBase {
public:
    // `ownerWnd` is the window the menu belongs to (automation finds the menu through it).
    CMenuWnd(INotifyUI* owner, plat::HWND ownerWnd);
    ~CMenuWnd() override;

    std::wstring GetWindowClassName() const override { return L"MenuWnd"; }
    void Notify(TNotifyUI& msg) override;

    CControlUI* AddItem(std::wstring_view name, std::wstring_view text);
    // Creates and shows the menu at the point; false when the window cannot be created.
    bool Init(int x, int y);
    // False when no item has that name.
    bool ChooseItem(std::wstring_view name);
    plat::HWND OwnerWnd() const { return m_ownerWnd; }
    bool IsOpen() const;

    // The open menu of a window, or null.
    static CMenuWnd* FindOpenMenu(plat::HWND ownerWnd);

private:
    INotifyUI* m_owner;
    plat::HWND m_ownerWnd;
};

}  // namespace DuiLib
