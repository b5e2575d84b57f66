// Facts about the running system that the suite's UI and reports use.
#pragma once

#include <string>

namespace SystemInfo {

// Offset of local time from UTC in whole hours: the machine's "timezone" override, else the
// system's zone.
int GetTimeZone();
// The user's UI language as a culture name ("en-US", "zh-CN"): the machine's "language" override,
// else $LANG, else "en-US".
std::wstring GetUserLanguage();
std::wstring getCurrentUserLanguage();
// Dots per inch of the primary screen: the machine's "dpi" override, else 96.
int GetSystemDPI();

}  // namespace SystemInfo
