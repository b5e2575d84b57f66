// What the two notices of new versions share: the user's "remind me" choice from a notice's close
// options, kept in the user's settings under the notice's own value, and the one lock that guards
// it together with the notice's other state. Remind modes: 0 as usual, 1 chosen "not again",
// 2 "at the next boot".
#pragma once

#include <mutex>
#include <string>

#include "common/Driver/DriverUpdateCommon.h"
#include "kva/platform/Types.h"

class CRemindingNotice {
public:
    bool RemindFlag();
    plat::DWORD RemindMode();

protected:
    // `modeValue`: the settings value of the remind mode, read here; `which`: the notice's
    // first-boot question.
    CRemindingNotice(const wchar_t* modeValue, enumWhichCall which);
    ~CRemindingNotice() = default;

    // Under m_mtx. False while a "next boot" choice waits for the machine's first boot since; once
    // it has come, the choice is cleared.
    bool RemindDelayOver();
    // Under m_mtx: the close option taken ("0" or "1"); WriteRemindMode stores the new mode.
    void TakeCloseChoice(const std::wstring& text);
    void WriteRemindMode();
    // Under m_mtx: the choice as at start, the mode read again.
    void ResetRemind();
    // Without the lock, after a close choice: marks the notice as having asked this boot.
    void MarkAskedThisBoot();

    std::mutex m_mtx;
    bool m_remind = true;
    plat::DWORD m_remindMode = 0;

private:
    const wchar_t* m_modeValue;
    enumWhichCall m_which;
};
