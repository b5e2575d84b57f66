// What the notice controllers share: the user's notice settings in the registry
// (HKEY_USERS\<SID>\SOFTWARE\Vantor\Pilotdeck\setting), localised texts, the direct data events
// and the page request to the main application. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kva/platform/Types.h"

namespace notice_settings {

std::wstring Key();
// 0 when the value is missing.
plat::DWORD Read(const wchar_t* name);
bool Write(const wchar_t* name, plat::DWORD value);

std::wstring Text(const wchar_t* id);
std::wstring TextWithNumber(const wchar_t* id, std::int64_t number);
std::wstring TextWithText(const wchar_t* id, const std::wstring& text);

// The notices' own event of the user's close choice, sent under its full id.
inline constexpr std::int64_t kCloseChoiceEvent = 619002012;
bool ReportFull(std::int64_t eventId, const std::vector<std::string>& values);

// Title icons of the notices.
inline constexpr wchar_t kDoctorIcon[] = L"../../res/drawable/tips/title/title_doctor.png";
inline constexpr wchar_t kManagerIcon[] = L"../../res/drawable/tips/title/title_manager.png";
inline constexpr wchar_t kManagerWhiteIcon[] = L"../../res/drawable/tips/title/title_manager_whitelogo.png";
std::wstring ManagerIcon();

}  // namespace notice_settings
