// WMI over COM: IWbemLocator -> IWbemServices::ExecQuery, every property of each row as text.
#include "kva/platform/Wmi.h"

#include "Win32.h"

#include "kva/platform/Text.h"
#include "WmiObjects.h"

namespace plat {

namespace {

using win32::CBstr;
using win32::CComRef;

// COM for the calling thread, as long as the query runs. A thread already in another apartment
// keeps it (RPC_E_CHANGED_MODE) and works from there.
class CComScope {
public:
    CComScope() : m_hr(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {
        // Once per process; a host that already set its security keeps its own (RPC_E_TOO_LATE).
        ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                               nullptr, EOAC_NONE, nullptr);
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
    ~CComScope() {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }
    bool Usable() const { return SUCCEEDED(m_hr) || m_hr == RPC_E_CHANGED_MODE; }

private:
    HRESULT m_hr;
};

// The property names a query asks for, as it spells them ("SELECT Name, ProcessId FROM ...").
// WMI names are case-insensitive and providers differ in their spelling; rows use the caller's.
std::vector<std::string> SelectedNames(const std::string& wql) {
    const std::string lower = AsciiLower(wql);
    const auto select = lower.find("select");
    const auto from = lower.find(" from ");
    std::vector<std::string> names;
    if (select == std::string::npos || from == std::string::npos || from < select) return names;
    std::string name;
    for (char c : wql.substr(select + 6, from - select - 6) + ",") {
        if (c == ',') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else if (c != ' ' && c != '\t') {
            name += c;
        }
    }
    return names;
}

std::string Spelled(const std::string& name, const std::vector<std::string>& asked) {
    for (const auto& a : asked) {
        if (EqualsNoCase(a, name)) return a;
    }
    return name;
}

WmiRow RowOf(IWbemClassObject* object, const std::vector<std::string>& asked) {
    WmiRow row;
    object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
    BSTR name = nullptr;
    VARIANT value;
    ::VariantInit(&value);
    while (object->Next(0, &name, &value, nullptr, nullptr) == WBEM_S_NO_ERROR) {
        row[Spelled(ToUtf8(name), asked)] = win32::VariantText(&value);
        ::SysFreeString(name);
        ::VariantClear(&value);
    }
    object->EndEnumeration();
    return row;
}

}  // namespace

std::optional<std::vector<WmiRow>> WmiQuery(const std::string& nameSpace, const std::string& wql) {
    CComScope com;
    if (!com.Usable()) return std::nullopt;
    CComRef<IWbemLocator> locator;
    if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(locator.Out())))) {
        return std::nullopt;
    }
    CComRef<IWbemServices> services;
    CBstr ns(FromUtf8(nameSpace));
    if (FAILED(locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Out()))) {
        return std::nullopt;
    }
    ::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    CComRef<IEnumWbemClassObject> rows;
    CBstr language(L"WQL"), query(FromUtf8(wql));
    if (FAILED(services->ExecQuery(language.Get(), query.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                   nullptr, rows.Out()))) {
        return std::nullopt;
    }
    const std::vector<std::string> asked = SelectedNames(wql);
    std::vector<WmiRow> out;
    for (;;) {
        CComRef<IWbemClassObject> object;
        ULONG got = 0;
        const HRESULT hr = rows->Next(static_cast<LONG>(static_cast<ULONG>(WBEM_INFINITE)), 1, object.Out(), &got);
        if (FAILED(hr)) return std::nullopt;  // a bad class or query shows up at the first row
        if (got == 0) break;
        out.push_back(RowOf(object.Get(), asked));
    }
    return out;
}

}  // namespace plat
