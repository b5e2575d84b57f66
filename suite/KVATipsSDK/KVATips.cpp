#include "KVATipsSDK/KVATips.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "kva/platform/Text.h"

namespace vtr::tips_sdk {

TipsBase::TipsBase(int id, std::wstring owner, int kind) : m_id(id), m_owner(std::move(owner)), m_kind(kind) {}

TipsBase::~TipsBase() = default;

void TipsBase::SetTitleTxt(const std::wstring& text) { Put(&Fields::title, text); }
void TipsBase::SetMode(int mode) { Put(&Fields::mode, mode); }
void TipsBase::SetLevel(int level) { Put(&Fields::level, level); }
void TipsBase::SetCloseOption(const std::vector<std::wstring>& options) {
    Put(&Fields::closeOptions, options);
}
void TipsBase::SetTitleIcon(const std::wstring& icon) { Put(&Fields::icon, icon); }
void TipsBase::SetReplyCallback(ReplyCallback callback) {
    std::lock_guard lock(m_mtx);
    m_reply = std::move(callback);
}
std::wstring TipsBase::GetTitleTxt() const { return Read(&Fields::title); }
std::vector<std::wstring> TipsBase::GetCloseOption() const { return Read(&Fields::closeOptions); }
std::wstring TipsBase::GetTitleIcon() const { return Read(&Fields::icon); }
ReplyCallback TipsBase::GetReplyCallback() const {
    std::lock_guard lock(m_mtx);
    return m_reply;
}
int TipsBase::GetMode() const { return Read(&Fields::mode); }
int TipsBase::GetLevel() const { return Read(&Fields::level); }

std::string TipsBase::Serialize(bool update) const {
    using plat::ToUtf8;
    std::lock_guard lock(m_mtx);
    nlohmann::json options = nlohmann::json::array();
    for (const auto& o : m_f.closeOptions) options.push_back(ToUtf8(o));
    nlohmann::json items = nlohmann::json::array();
    for (const auto& i : m_f.items) items.push_back({{"icon", ToUtf8(i.icon)}, {"name", ToUtf8(i.name)}, {"state", i.state}});
    const nlohmann::json j{{"id", m_id},
                           {"owner", ToUtf8(m_owner)},
                           {"kind", m_kind},
                           {"title", ToUtf8(m_f.title)},
                           {"content", ToUtf8(m_f.content)},
                           {"description", ToUtf8(m_f.description)},
                           {"button", ToUtf8(m_f.button)},
                           {"icon", ToUtf8(m_f.icon)},
                           {"mode", m_f.mode},
                           {"level", m_f.level},
                           {"descriptionLevel", m_f.descriptionLevel},
                           {"closeOptions", options},
                           {"items", items},
                           {"process", m_f.process},
                           {"update", update}};
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void TipsNormal::SetContentTxt(const std::wstring& text) { Put(&Fields::content, text); }
void TipsNormal::SetItems(const std::vector<TipsItem>& items) { Put(&Fields::items, items); }
void TipsNormal::SetDescription(const std::wstring& text) { Put(&Fields::description, text); }
void TipsNormal::SetDescriptionLevel(int level) { Put(&Fields::descriptionLevel, level); }
void TipsNormal::SetBtnTxt(const std::wstring& text) { Put(&Fields::button, text); }
std::wstring TipsNormal::GetContentTxt() const { return Read(&Fields::content); }
std::vector<TipsItem> TipsNormal::GetItems() const { return Read(&Fields::items); }
std::wstring TipsNormal::GetDescription() const { return Read(&Fields::description); }
std::wstring TipsNormal::GetBtnTxt() const { return Read(&Fields::button); }

void TipsProcess::SetProcess(int percent) { Put(&Fields::process, std::clamp(percent, 0, 100)); }
int TipsProcess::GetProcess() const { return Read(&Fields::process); }

}  // namespace vtr::tips_sdk
