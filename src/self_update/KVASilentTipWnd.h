// The corner notice shown while the new version of the management application installs.
// Lives for the life of the service, hidden until asked. UI thread only.
#pragma once

#include <string>

#include "DuiLib/WindowImplBase.h"

class KVASilentTipWnd : public DuiLib::WindowImplBase {
public:
    std::wstring GetWindowClassName() const override { return L"KVASilentTip"; }
    std::wstring GetSkinFile() override { return L"../../res/layout/SelfUpgrade_SilentTipWnd.xml"; }

    // Shows that the new version is being installed.
    void ShowStartInstall();
};
