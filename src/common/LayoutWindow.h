// A window of the updater's own, built from a layout file. Its window class and layout are fixed
// when it is made, so each window names them once, in its constructor.
#pragma once

#include <string>

#include "DuiLib/WindowImplBase.h"

class CLayoutWindow : public DuiLib::WindowImplBase {
public:
    std::wstring GetWindowClassName() const override { return m_className; }
    std::wstring GetSkinFile() override { return m_skinFile; }

protected:
    CLayoutWindow(const wchar_t* className, const wchar_t* skinFile) : m_className(className), m_skinFile(skinFile) {}

private:
    const wchar_t* m_className;
    const wchar_t* m_skinFile;
};
