#include "DuiLib/UIControl.h"

#include <cwchar>

#include "DuiLib/UIManager.h"

namespace DuiLib {

namespace {

int ToInt(std::wstring_view v) {
    const std::wstring s(v);
    return static_cast<int>(std::wcstol(s.c_str(), nullptr, 10));
}

std::uint32_t ToColor(std::wstring_view v) {
    if (!v.empty() && v.front() == L'#') v.remove_prefix(1);
    const std::wstring s(v);
    return static_cast<std::uint32_t>(std::wcstoul(s.c_str(), nullptr, 16));
}

}  // namespace

CControlUI::CControlUI(std::wstring className) : m_class(std::move(className)) {}

CControlUI::~CControlUI() {
    if (m_manager) m_manager->KillTimer(this);
}

void CControlUI::SetName(std::wstring_view name) { m_name = name; }

void CControlUI::SetText(std::wstring_view text) {
    if (m_text == text) return;
    m_text = text;
    Changed();
}

void CControlUI::SetVisible(bool visible) {
    if (m_visible == visible) return;
    m_visible = visible;
    Changed();
}

bool CControlUI::IsShown() const {
    for (const CControlUI* c = this; c; c = c->m_parent) {
        if (!c->m_visible) return false;
    }
    return true;
}

void CControlUI::SetAttribute(std::wstring_view name, std::wstring_view value) {
    if (name == L"name") m_name = value;
    else if (name == L"text") m_text = value;
    else if (name == L"visible") m_visible = value != L"false" && value != L"0";
    else if (name == L"font") m_font = ToInt(value);
    else if (name == L"textcolor") m_textColor = ToColor(value);
    else if (name == L"width") m_width = ToInt(value);
    else if (name == L"height") m_height = ToInt(value);
    else if (name == L"singleline" && value == L"true") m_textStyle |= DT_SINGLELINE;
}

CControlUI* CControlUI::Add(std::unique_ptr<CControlUI> child) {
    if (!child) return nullptr;
    child->m_parent = this;
    child->SetManager(m_manager);
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

CControlUI* CControlUI::GetItemAt(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return m_children[static_cast<std::size_t>(index)].get();
}

CControlUI* CControlUI::Find(std::wstring_view name) {
    if (!name.empty() && m_name == name) return this;
    for (auto& child : m_children) {
        if (auto* hit = child->Find(name)) return hit;
    }
    return nullptr;
}

void CControlUI::SetManager(CPaintManagerUI* manager) {
    m_manager = manager;
    for (auto& child : m_children) child->SetManager(manager);
}

bool CControlUI::Activate() {
    if (!m_manager || !IsShown()) return false;
    m_manager->SendNotify(this, DUI_MSGTYPE_CLICK);
    return true;
}

void CControlUI::Changed() {
    if (m_manager) m_manager->ControlChanged(this);
}

}  // namespace DuiLib
