// The hidden restart-reminder window: carries the user's choice of restarting now or later.
// UI thread only.
#pragma once

#include <string>

#include "DuiLib/WindowImplBase.h"

class ForceUpRemindRestartManager : public DuiLib::WindowImplBase {
public:
    std::wstring GetWindowClassName() const override { return L"ForceUpRemindRestartManager"; }
};
