#include "DuiLib/UIManager.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <fstream>
#include <iterator>

#include "DuiLib/UICulture.h"
#include "DuiLib/UIMainQueue.h"
#include "DuiLib/WindowImplBase.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"
#include "kva/platform/WindowAutomation.h"

namespace DuiLib {

namespace {

// Window timer ids of control timers start here, above any id a window sets for itself.
constexpr UINT kFirstControlTimer = 0x10000000;
constexpr int kDefaultFontSize = 12;

std::unique_ptr<CControlUI> BuildControl(const pugi::xml_node& node) {
    auto control = std::make_unique<CControlUI>(plat::FromUtf8(node.name()));
    for (const auto& attr : node.attributes()) {
        control->SetAttribute(plat::FromUtf8(attr.name()), plat::FromUtf8(attr.value()));
    }
    for (const auto& child : node.children()) {
        if (child.type() == pugi::node_element) control->Add(BuildControl(child));
    }
    return control;
}

}  // namespace

CPaintManagerUI::~CPaintManagerUI() {
    // Controls kill their timers as they go; the manager must still be whole then.
    m_root.reset();
}

bool CPaintManagerUI::LoadLayoutText(std::string_view xml) {
    pugi::xml_document doc;
    const auto parsed = doc.load_buffer(xml.data(), xml.size());
    const pugi::xml_node window = doc.child("Window");
    if (!parsed || !window) {
        KVA_LOG_ERROR("layout does not parse: " << parsed.description());
        return false;
    }
    int w = 0, h = 0;
    if (std::sscanf(window.attribute("size").as_string(), "%d,%d", &w, &h) == 2) m_size = {w, h};
    auto root = std::make_unique<CControlUI>(L"Window");
    for (const auto& child : window.children()) {
        if (child.type() != pugi::node_element) continue;
        if (std::string_view(child.name()) == "Font") {
            m_fontSizes[child.attribute("id").as_int()] = child.attribute("size").as_int(kDefaultFontSize);
            continue;
        }
        root->Add(BuildControl(child));
    }
    SetRoot(std::move(root));
    return true;
}

bool CPaintManagerUI::LoadLayoutFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        KVA_LOG_ERROR("cannot read layout " << file.string());
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LoadLayoutText(text);
}

std::filesystem::path CPaintManagerUI::ResolveLayout(std::wstring_view skinFile) {
    std::string name = plat::ToUtf8(skinFile);
    std::replace(name.begin(), name.end(), '\\', '/');
    return UICulture::ResourceFolder() / "layout" / std::filesystem::path(name).filename();
}

void CPaintManagerUI::SetRoot(std::unique_ptr<CControlUI> root) {
    if (m_root) m_root->SetManager(nullptr);
    m_root = std::move(root);
    if (m_root) m_root->SetManager(this);
    PublishAll();
}

CControlUI* CPaintManagerUI::FindControl(std::wstring_view name) const {
    return m_root && !name.empty() ? m_root->Find(name) : nullptr;
}

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT id, UINT elapseMs) {
    if (!control || !m_owner || !m_owner->GetHWND()) return false;
    UINT windowId = 0;
    for (const auto& [wid, t] : m_timers) {
        if (t.control == control && t.id == id) windowId = wid;
    }
    if (windowId == 0) {
        windowId = kFirstControlTimer;
        while (m_timers.count(windowId)) ++windowId;
        m_timers[windowId] = ControlTimer{control, id};
    }
    UIMainQueue::getInstance()->SetTimer(m_owner, windowId, elapseMs);
    return true;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT id) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->second.control == control && it->second.id == id) {
            UIMainQueue::getInstance()->KillTimer(m_owner, it->first);
            m_timers.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::KillTimer(CControlUI* control) {
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->second.control == control) {
            UIMainQueue::getInstance()->KillTimer(m_owner, it->first);
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
}

bool CPaintManagerUI::OnWindowTimer(UINT windowTimerId) {
    auto it = m_timers.find(windowTimerId);
    if (it == m_timers.end()) return windowTimerId >= kFirstControlTimer;
    const ControlTimer t = it->second;
    SendNotify(t.control, DUI_MSGTYPE_TIMER, t.id);
    return true;
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    if (notifier && std::find(m_notifiers.begin(), m_notifiers.end(), notifier) == m_notifiers.end()) {
        m_notifiers.push_back(notifier);
    }
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) { std::erase(m_notifiers, notifier); }

void CPaintManagerUI::SendNotify(CControlUI* sender, std::wstring_view type, WPARAM wParam, LPARAM lParam) {
    TNotifyUI msg{std::wstring(type), sender, wParam, lParam};
    // A notifier may close the window and so change the list.
    const auto notifiers = m_notifiers;
    for (INotifyUI* n : notifiers) n->Notify(msg);
}

int CPaintManagerUI::FontSize(int font) const {
    auto it = m_fontSizes.find(font);
    return it == m_fontSizes.end() ? kDefaultFontSize : it->second;
}

plat::Rect CPaintManagerUI::CalcTextRect(std::wstring_view text, int font, UINT, const plat::Rect& bounds) const {
    const int size = FontSize(font);
    // Average advance of a proportional UI font: a little over half its em size.
    const int width = static_cast<int>(std::ceil(static_cast<double>(text.size()) * size * 0.6));
    const int height = static_cast<int>(std::ceil(size * 1.3));
    return plat::Rect{bounds.left, bounds.top, std::min(bounds.right, bounds.left + width),
                      std::min(bounds.bottom, bounds.top + height)};
}

void CPaintManagerUI::ControlChanged(CControlUI* control) {
    if (!control || control->GetName().empty() || !m_owner || !m_owner->GetHWND()) return;
    plat::PublishControl(m_owner->GetHWND(), plat::ToUtf8(control->GetName()), control->GetText(), control->IsShown());
}

void CPaintManagerUI::PublishAll() {
    if (!m_root) return;
    std::vector<CControlUI*> stack{m_root.get()};
    while (!stack.empty()) {
        CControlUI* c = stack.back();
        stack.pop_back();
        ControlChanged(c);
        for (int i = 0; i < c->GetCount(); ++i) stack.push_back(c->GetItemAt(i));
    }
}

}  // namespace DuiLib
