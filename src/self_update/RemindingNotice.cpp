#include "self_update/RemindingNotice.h"

#include "self_update/NoticeSettings.h"

CRemindingNotice::CRemindingNotice(const wchar_t* modeValue, enumWhichCall which)
    : m_remindMode(notice_settings::Read(modeValue)), m_modeValue(modeValue), m_which(which) {}

bool CRemindingNotice::RemindFlag() {
    std::lock_guard lock(m_mtx);
    return m_remind;
}

plat::DWORD CRemindingNotice::RemindMode() {
    std::lock_guard lock(m_mtx);
    return m_remindMode;
}

bool CRemindingNotice::RemindDelayOver() {
    if (m_remindMode != 2) return true;
    if (!IsFirstBootComputer(m_which)) return false;
    m_remindMode = 0;
    notice_settings::Write(m_modeValue, 0);
    return true;
}

void CRemindingNotice::TakeCloseChoice(const std::wstring& text) {
    m_remind = text == L"0";
    if (text == L"0") m_remindMode = 1;
    else if (text == L"1") m_remindMode = 2;
}

void CRemindingNotice::WriteRemindMode() { notice_settings::Write(m_modeValue, m_remindMode); }

void CRemindingNotice::ResetRemind() {
    m_remind = true;
    m_remindMode = notice_settings::Read(m_modeValue);
}

void CRemindingNotice::MarkAskedThisBoot() { IsFirstBootComputer(m_which); }
