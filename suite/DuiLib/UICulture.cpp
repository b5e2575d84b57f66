#include "DuiLib/UICulture.h"

#include <unicode/fmtable.h>
#include <unicode/msgfmt.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include <pugixml.hpp>

#include "Util/SystemInfo.h"
#include "kva/platform/Log.h"
#include "kva/platform/Module.h"
#include "kva/platform/Text.h"

namespace DuiLib {

struct UICulture::Impl {
    std::mutex mtx;
    std::wstring culture;              // the culture whose table is loaded
    std::map<std::wstring, std::wstring> texts;
    int direction = 0;

    bool LoadFile(const std::wstring& name) {
        const auto file = ResourceFolder() / "lang" / (plat::ToUtf8(name) + ".xml");
        pugi::xml_document doc;
        if (!doc.load_file(file.c_str())) return false;
        const auto root = doc.child("language");
        direction = root.attribute("direction").as_int(0);
        texts.clear();
        for (auto s : root.children("string")) {
            texts[plat::FromUtf8(s.attribute("id").as_string())] = plat::FromUtf8(s.child_value());
        }
        return true;
    }

    // REQUIRES: mtx held. Loads the table of the user's language when it changed.
    void Refresh() {
        const std::wstring wanted = SystemInfo::GetUserLanguage();
        if (wanted == culture && !texts.empty()) return;
        culture = wanted;
        if (LoadFile(wanted)) return;
        if (auto dash = wanted.find(L'-'); dash != std::wstring::npos) {
            const std::wstring base = wanted.substr(0, dash);
            for (const wchar_t* known : {L"zh-CN", L"en-US"}) {
                if (std::wstring(known).rfind(base, 0) == 0 && LoadFile(known)) return;
            }
        }
        if (!LoadFile(L"en-US")) KVA_LOG_ERROR("no language file in " << ResourceFolder().string());
    }

    std::wstring Lookup(const std::wstring& id) {
        std::lock_guard lock(mtx);
        Refresh();
        auto it = texts.find(id);
        return it == texts.end() ? id : it->second;
    }
};

namespace {

std::wstring Format(const std::wstring& pattern, const std::vector<icu::Formattable>& args, const std::wstring& culture) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString upattern = icu::UnicodeString::fromUTF8(plat::ToUtf8(pattern));
    icu::MessageFormat fmt(upattern, icu::Locale(plat::ToUtf8(culture).c_str()), status);
    if (U_FAILURE(status)) return pattern;
    icu::UnicodeString out;
    icu::FieldPosition pos(icu::FieldPosition::DONT_CARE);
    fmt.format(args.data(), static_cast<int32_t>(args.size()), out, pos, status);
    if (U_FAILURE(status)) return pattern;
    std::string utf8;
    out.toUTF8String(utf8);
    return plat::FromUtf8(utf8);
}

}  // namespace

UICulture* UICulture::GetInstance() { return &TheInstance(); }

std::filesystem::path UICulture::ResourceFolder() {
    if (const char* env = std::getenv("KVA_RES"); env && *env) return env;
    const std::filesystem::path exe(plat::ToUtf8(plat::HostExecutablePath()));
    return exe.parent_path() / "res";
}

std::wstring UICulture::GetString(const std::wstring& id) { return m_impl->Lookup(id); }

std::wstring UICulture::GetMultiVarStr(const std::wstring& id, const std::vector<std::int64_t>& numbers, int) {
    std::vector<icu::Formattable> args;
    for (std::int64_t n : numbers) args.emplace_back(static_cast<int64_t>(n));
    return Format(m_impl->Lookup(id), args, CurrentCulture());
}

std::wstring UICulture::GetTextVarStr(const std::wstring& id, const std::vector<std::wstring>& texts) {
    std::vector<icu::Formattable> args;
    for (const auto& t : texts) args.emplace_back(icu::UnicodeString::fromUTF8(plat::ToUtf8(t)));
    return Format(m_impl->Lookup(id), args, CurrentCulture());
}

int UICulture::getDirection() {
    std::lock_guard lock(m_impl->mtx);
    m_impl->Refresh();
    return m_impl->direction;
}

std::wstring UICulture::CurrentCulture() {
    std::lock_guard lock(m_impl->mtx);
    m_impl->Refresh();
    return m_impl->culture;
}

}  // namespace DuiLib
