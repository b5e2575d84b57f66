#include "common/UserLocale.h"

#include "Util/DE.h"

std::string GetUserLocaleName() {
    std::wstring locale;
    DE::Registry::GetValue(plat::kHKeyUsers, VTPROCESS::GetCurrentUserSidstr() + L"\\Control Panel\\International\\",
                           L"LocaleName", locale, plat::kKeyRead);
    return DE::UnicodeToUTF8(locale);
}
