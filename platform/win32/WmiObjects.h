// Shared by the WMI query and the ACPI-WMI calls: COM references and values as the port's text.
// Internal to the platform library.
#pragma once

#include "Win32.h"
#include <wbemidl.h>

#include <string>

namespace plat::win32 {

// Releases a COM interface when it goes out of scope.
template <class T>
class CComRef {
public:
    CComRef() = default;
    explicit CComRef(T* p) : m_p(p) {}
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;
    ~CComRef() {
        if (m_p) m_p->Release();
    }
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    T** Out() { return &m_p; }
    T* Detach() {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

class CBstr {
public:
    explicit CBstr(const std::wstring& text) : m_b(::SysAllocString(text.c_str())) {}
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { ::SysFreeString(m_b); }
    BSTR Get() const { return m_b; }

private:
    BSTR m_b;
};

// Any variant as text: strings as they are, numbers in decimal, booleans as "True"/"False".
std::string VariantText(VARIANT* v);

}  // namespace plat::win32
