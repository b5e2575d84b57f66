#include "self_update/NoticeSettings.h"

#include "DataReport/BIDataReport.h"
#include "DuiLib/UICulture.h"
#include "Util/DE.h"
#include "Util/KVASoftShelf.h"
#include "kva/platform/Log.h"

namespace notice_settings {

std::wstring Key() { return VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting"; }

plat::DWORD Read(const wchar_t* name) {
    plat::DWORD value = 0;
    if (!DE::Registry::GetValue(plat::kHKeyUsers, Key(), name, value)) return 0;
    return value;
}

bool Write(const wchar_t* name, plat::DWORD value) {
    if (DE::Registry::SetValue(plat::kHKeyUsers, Key(), name, value)) return true;
    KVA_LOG_ERROR("cannot write setting " << DE::UnicodeToUTF8(name));
    return false;
}

std::wstring Text(const wchar_t* id) { return DuiLib::UICulture::GetInstance()->GetString(id); }

std::wstring TextWithNumber(const wchar_t* id, std::int64_t number) {
    return DuiLib::UICulture::GetInstance()->GetMultiVarStr(id, {number}, 0);
}

std::wstring TextWithText(const wchar_t* id, const std::wstring& text) {
    return DuiLib::UICulture::GetInstance()->GetTextVarStr(id, {text});
}

bool ReportFull(std::int64_t eventId, const std::vector<std::string>& values) {
    return CBIDataReport::GetInstance()->Report(eventId, values);
}

std::wstring ManagerIcon() {
    return CKVASoftShelf::GetInstance()->IsWhiteLogoMachineType() ? kManagerWhiteIcon : kManagerIcon;
}

}  // namespace notice_settings
