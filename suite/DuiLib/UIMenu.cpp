#include "DuiLib/UIMenu.h"

#include "DuiLib/UIAutomation.h"

namespace DuiLib {

CMenuWnd::CMenuWnd(INotifyUI* owner, plat::HWND ownerWnd) : m_owner(owner), m_ownerWnd(ownerWnd) {
    m_PaintManager.SetRoot(std::make_unique<CControlUI>(L"Menu"));
}

CMenuWnd::~CMenuWnd() = default;

CControlUI* CMenuWnd::AddItem(std::wstring_view name, std::wstring_view text) {
    auto item = std::make_unique<CControlUI>(L"MenuElement");
    item->SetName(name);
    item->SetText(text);
    CControlUI* added = m_PaintManager.GetRoot()->Add(std::move(item));
    m_PaintManager.ControlChanged(added);
    return added;
}

bool CMenuWnd::Init(int x, int y) {
    if (!Create(m_ownerWnd, L"", WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW, x, y)) return false;
    ShowWindow(true);
    return true;
}

bool CMenuWnd::IsOpen() const { return GetHWND() != 0; }

bool CMenuWnd::ChooseItem(std::wstring_view name) {
    CControlUI* item = m_PaintManager.FindControl(name);
    if (!item || item->GetClass() != L"MenuElement" || !IsOpen()) return false;
    TNotifyUI msg{DUI_MSGTYPE_MENU, item, 0, 0};
    // Closed first: the owner may open another menu from its handler.
    Close();
    if (m_owner) m_owner->Notify(msg);
    return true;
}

void CMenuWnd::Notify(TNotifyUI& msg) {
    if (msg.sType == DUI_MSGTYPE_CLICK && msg.pSender) ChooseItem(msg.pSender->GetName());
}

CMenuWnd* CMenuWnd::FindOpenMenu(plat::HWND ownerWnd) {
    for (WindowImplBase* wnd : CUIAutomation::Windows()) {
        auto* menu = dynamic_cast<CMenuWnd*>(wnd);
        if (menu && menu->IsOpen() && menu->m_ownerWnd == ownerWnd) return menu;
    }
    return nullptr;
}

}  // namespace DuiLib
