// The corner notice of silent driver installs ("installing…", then "installed"). Lives for the
// life of the service, hidden until asked. UI thread only.
#pragma once

#include <string>

#include "DuiLib/WindowImplBase.h"

class UpdateTipsUI : public DuiLib::WindowImplBase {
public:
    std::wstring GetWindowClassName() const override { return L"UpdateTipsUI"; }
    std::wstring GetSkinFile() override { return L"..\\..\\res\\layout\\ForceMsgTips.xml"; }

    // The notice of one idle install of the driver with this type code: under way, then done.
    void ShowInstalling(const std::string& code);
    void ShowInstalled(const std::string& code);
};
