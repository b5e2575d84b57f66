// Localised texts of the suite. Language files live in the resource folder ("res/lang/<culture>.xml"
// beside the host executable, or $KVA_RES/lang), one per culture:
//
//   <language culture="en-US" direction="0">
//     <string id="IDS_DOCTOR_DEVICE_NORMAL_DESC2">{0} driver update(s) installed so far</string>
//   </language>
//
// Texts are ICU MessageFormat patterns. The culture is the user's language
// (SystemInfo::GetUserLanguage), falling back to its language without region, then "en-US".
// An unknown id gives the id itself. Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Util/Singleton.h"

namespace DuiLib {

// Never destroyed: threads of other singletons (the tips library's answer worker) may still ask for
// a text while the process's statics are being destroyed at exit.
class UICulture : public suite::CSingleton<UICulture, suite::ELifetime::Immortal> {
public:
    static UICulture* GetInstance();

    std::wstring GetString(const std::wstring& id);
    // The text of `id` with {0}, {1}… filled from `numbers`. `flags` is unused (0).
    std::wstring GetMultiVarStr(const std::wstring& id, const std::vector<std::int64_t>& numbers, int flags);
    // The text of `id` with {0}, {1}… filled from `texts`.
    std::wstring GetTextVarStr(const std::wstring& id, const std::vector<std::wstring>& texts);
    // 1 when the culture reads right to left, else 0.
    int getDirection();
    std::wstring CurrentCulture();

    // Where language files and layouts are: $KVA_RES, else "res" beside the executable.
    static std::filesystem::path ResourceFolder();

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};

}  // namespace DuiLib
