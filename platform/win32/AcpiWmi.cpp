// COM and WMI for the firmware's ACPI-WMI device: the port's handles are the COM interfaces
// themselves, and the port's sinks reach WMI through a COM object that forwards to them.
#include "kva/platform/AcpiWmi.h"

#include "Win32.h"
#include "WmiObjects.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "../common/ForwardingSink.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

using win32::CBstr;
using win32::CComRef;

template <class T>
T* As(std::uintptr_t handle) {
    return reinterpret_cast<T*>(handle);
}

template <class T>
std::uintptr_t Handle(T* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

// Every property of a WMI object, system ones ("__Class") included, as text.
WmiRow EventRow(::IWbemClassObject* object) {
    WmiRow row;
    object->BeginEnumeration(0);
    BSTR name = nullptr;
    VARIANT value;
    ::VariantInit(&value);
    while (object->Next(0, &name, &value, nullptr, nullptr) == WBEM_S_NO_ERROR) {
        row[ToUtf8(name)] = win32::VariantText(&value);
        ::SysFreeString(name);
        ::VariantClear(&value);
    }
    object->EndEnumeration();
    return row;
}

// The COM sink WMI calls; it forwards to the port's sink, holding a reference to it.
class CSinkBridge final : public ::IWbemObjectSink {
public:
    explicit CSinkBridge(plat::IWbemObjectSink* sink) : m_sink(sink) { m_sink->AddRef(); }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    ::HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IWbemObjectSink) {
            *out = static_cast<::IWbemObjectSink*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ::HRESULT STDMETHODCALLTYPE Indicate(long count, ::IWbemClassObject** objects) override {
        std::vector<WmiRow> rows;
        for (long i = 0; i < count; ++i) rows.push_back(EventRow(objects[i]));
        return m_sink->Indicate(count, rows.data());
    }
    ::HRESULT STDMETHODCALLTYPE SetStatus(long flags, ::HRESULT result, BSTR, ::IWbemClassObject*) override {
        return m_sink->SetStatus(flags, result);
    }

private:
    ~CSinkBridge() { m_sink->Release(); }
    std::atomic<ULONG> m_refs{1};
    plat::IWbemObjectSink* m_sink;
};

// What WmiCreateObjectStub hands out: the port's view of the apartment's stub. Its COM side is
// what WMI calls; calls made on it directly go to the wrapped sink.
class CStub final : public detail::CForwardingSink {
public:
    CStub(::IWbemObjectSink* com, plat::IWbemObjectSink* inner) : CForwardingSink(inner), m_com(com) {}

    ::IWbemObjectSink* Com() const { return m_com; }

private:
    ~CStub() override { m_com->Release(); }
    ::IWbemObjectSink* m_com;
};

// Subscriptions by the port's sink: the COM sink WMI was given, to cancel it by.
std::mutex g_subscriptionsMutex;
std::map<plat::IWbemObjectSink*, ::IWbemObjectSink*> g_subscriptions;

bool ToVariant(const WmiValue& value, VARIANT* v) {
    ::VariantInit(v);
    if (const auto* text = std::get_if<std::wstring>(&value)) {
        v->vt = VT_BSTR;
        v->bstrVal = ::SysAllocString(text->c_str());
        return v->bstrVal != nullptr;
    }
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) {
        SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes->size()));
        if (!array) return false;
        void* data = nullptr;
        ::SafeArrayAccessData(array, &data);
        std::copy(bytes->begin(), bytes->end(), static_cast<std::uint8_t*>(data));
        ::SafeArrayUnaccessData(array);
        v->vt = VT_ARRAY | VT_UI1;
        v->parray = array;
        return true;
    }
    v->vt = VT_NULL;
    return true;
}

WmiValue FromVariant(VARIANT* v) {
    if (v->vt == (VT_ARRAY | VT_UI1) && v->parray) {
        std::vector<std::uint8_t> bytes(v->parray->rgsabound[0].cElements);
        void* data = nullptr;
        ::SafeArrayAccessData(v->parray, &data);
        std::copy_n(static_cast<const std::uint8_t*>(data), bytes.size(), bytes.begin());
        ::SafeArrayUnaccessData(v->parray);
        return bytes;
    }
    if (v->vt == VT_NULL || v->vt == VT_EMPTY) return std::monostate{};
    return FromUtf8(win32::VariantText(v));
}

}  // namespace

HRESULT CoInitializeEx(DWORD coinit) { return ::CoInitializeEx(nullptr, coinit); }
void CoUninitialize() { ::CoUninitialize(); }
HRESULT CoInitializeSecurity() {
    return ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

void WmiRelease(std::uintptr_t handle) {
    if (handle) As<IUnknown>(handle)->Release();
}

HRESULT WmiCreateLocator(HWMILOCATOR* locator) {
    if (!locator) return kEPointer;
    ::IWbemLocator* p = nullptr;
    const ::HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                            reinterpret_cast<void**>(&p));
    *locator = Handle(p);
    return hr;
}

HRESULT WmiConnectServer(HWMILOCATOR locator, std::wstring_view nameSpace, HWMISERVICES* services) {
    if (!locator || !services) return kEPointer;
    CBstr ns{std::wstring(nameSpace)};
    ::IWbemServices* p = nullptr;
    const ::HRESULT hr = As<::IWbemLocator>(locator)->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr,
                                                                     nullptr, &p);
    *services = Handle(p);
    return hr;
}

HRESULT WmiSetProxyBlanket(HWMISERVICES services) {
    if (!services) return kEPointer;
    return ::CoSetProxyBlanket(As<IUnknown>(services), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

HRESULT WmiGetObject(HWMISERVICES services, std::wstring_view className, HWMIOBJECT* classObject) {
    if (!services || !classObject) return kEPointer;
    CBstr name{std::wstring(className)};
    ::IWbemClassObject* p = nullptr;
    const ::HRESULT hr = As<::IWbemServices>(services)->GetObject(name.Get(), 0, nullptr, &p, nullptr);
    *classObject = Handle(p);
    return hr;
}

HRESULT WmiGetMethod(HWMIOBJECT classObject, std::wstring_view method, HWMIOBJECT* inDefinition) {
    if (!classObject || !inDefinition) return kEPointer;
    ::IWbemClassObject* p = nullptr;
    const ::HRESULT hr = As<::IWbemClassObject>(classObject)->GetMethod(win32::Z(method).c_str(), 0, &p, nullptr);
    *inDefinition = Handle(p);
    return hr;
}

HRESULT WmiSpawnInstance(HWMIOBJECT definition, HWMIOBJECT* instance) {
    if (!definition || !instance) return kEPointer;
    ::IWbemClassObject* p = nullptr;
    const ::HRESULT hr = As<::IWbemClassObject>(definition)->SpawnInstance(0, &p);
    *instance = Handle(p);
    return hr;
}

HRESULT WmiPut(HWMIOBJECT object, std::wstring_view name, const WmiValue& value) {
    if (!object) return kEPointer;
    VARIANT v;
    if (!ToVariant(value, &v)) return kWbemEFailed;
    const ::HRESULT hr = As<::IWbemClassObject>(object)->Put(win32::Z(name).c_str(), 0, &v, 0);
    ::VariantClear(&v);
    return hr;
}

HRESULT WmiGet(HWMIOBJECT object, std::wstring_view name, WmiValue* value) {
    if (!object || !value) return kEPointer;
    VARIANT v;
    ::VariantInit(&v);
    const ::HRESULT hr = As<::IWbemClassObject>(object)->Get(win32::Z(name).c_str(), 0, &v, nullptr, nullptr);
    if (SUCCEEDED(hr)) *value = FromVariant(&v);
    ::VariantClear(&v);
    return hr;
}

HRESULT WmiExecMethod(HWMISERVICES services, std::wstring_view objectPath, std::wstring_view method, HWMIOBJECT input,
                      HWMIOBJECT* output) {
    if (!services) return kEPointer;
    CBstr path{std::wstring(objectPath)}, name{std::wstring(method)};
    ::IWbemClassObject* out = nullptr;
    const ::HRESULT hr = As<::IWbemServices>(services)->ExecMethod(
        path.Get(), name.Get(), 0, nullptr, As<::IWbemClassObject>(input), output ? &out : nullptr, nullptr);
    if (output) *output = Handle(out);
    return hr;
}

HRESULT WmiCreateUnsecuredApartment(HWMIAPARTMENT* apartment) {
    if (!apartment) return kEPointer;
    ::IUnsecuredApartment* p = nullptr;
    const ::HRESULT hr = ::CoCreateInstance(CLSID_UnsecuredApartment, nullptr, CLSCTX_LOCAL_SERVER,
                                            IID_IUnsecuredApartment, reinterpret_cast<void**>(&p));
    *apartment = Handle(p);
    return hr;
}

HRESULT WmiCreateObjectStub(HWMIAPARTMENT apartment, plat::IWbemObjectSink* sink, plat::IWbemObjectSink** stub) {
    if (!apartment || !sink || !stub) return kEPointer;
    *stub = nullptr;
    CComRef<::IWbemObjectSink> bridge(new CSinkBridge(sink));
    CComRef<IUnknown> unknown;
    ::HRESULT hr = As<::IUnsecuredApartment>(apartment)->CreateObjectStub(bridge.Get(), unknown.Out());
    if (FAILED(hr)) return hr;
    ::IWbemObjectSink* com = nullptr;
    hr = unknown->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(&com));
    if (FAILED(hr)) return hr;
    *stub = new CStub(com, sink);
    return kSOk;
}

HRESULT WmiExecNotificationQueryAsync(HWMISERVICES services, std::wstring_view language, std::wstring_view query,
                                      long flags, plat::IWbemObjectSink* sink) {
    if (!services || !sink) return kEPointer;
    ::IWbemObjectSink* com = nullptr;
    if (auto* stub = dynamic_cast<CStub*>(sink)) {
        com = stub->Com();
        com->AddRef();
    } else {
        com = new CSinkBridge(sink);
    }
    CBstr lang{std::wstring(language)}, text{std::wstring(query)};
    const ::HRESULT hr =
        As<::IWbemServices>(services)->ExecNotificationQueryAsync(lang.Get(), text.Get(), flags, nullptr, com);
    if (FAILED(hr)) {
        com->Release();
        return hr;
    }
    sink->AddRef();
    std::lock_guard lock(g_subscriptionsMutex);
    g_subscriptions[sink] = com;
    return hr;
}

HRESULT WmiCancelAsyncCall(HWMISERVICES services, plat::IWbemObjectSink* sink) {
    if (!services || !sink) return kEPointer;
    ::IWbemObjectSink* com = nullptr;
    {
        std::lock_guard lock(g_subscriptionsMutex);
        auto it = g_subscriptions.find(sink);
        if (it == g_subscriptions.end()) return kWbemENotFound;
        com = it->second;
        g_subscriptions.erase(it);
    }
    // WMI waits for a delivery in progress before CancelAsyncCall returns.
    const ::HRESULT hr = As<::IWbemServices>(services)->CancelAsyncCall(com);
    com->Release();
    sink->Release();
    return hr;
}

}  // namespace plat
