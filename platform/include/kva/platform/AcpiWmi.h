// COM and WMI as the platform firmware's ACPI-WMI device needs them: connect to a namespace, call
// a method on an instance with an input object, subscribe a sink to an event class and cancel it.
// Windows-shaped: HRESULTs, the steps of a WMI client, and a sink with COM reference counting.
//
// The simulated machine implements "ROOT\\WMI" with the method class "OemWMIMethod" (method
// "OemWMIfun" on instance "ACPI\\PNP0C14\\VTMI_0") and the event class "OemWMIEvent"; SimDevices.h
// scripts how it answers. Events are delivered on a thread of the port, never on the caller's
// after CancelAsyncCall has returned. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "kva/platform/Types.h"
#include "kva/platform/Wmi.h"

namespace plat {

using HRESULT = std::int32_t;

inline constexpr HRESULT kSOk = 0;
inline constexpr HRESULT kSFalse = 1;
inline constexpr HRESULT kENoInterface = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT kEPointer = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT kRpcEChangedMode = static_cast<HRESULT>(0x80010106);
inline constexpr HRESULT kRpcETooLate = static_cast<HRESULT>(0x80010119);
inline constexpr HRESULT kWbemEFailed = static_cast<HRESULT>(0x80041001);
inline constexpr HRESULT kWbemENotFound = static_cast<HRESULT>(0x80041002);
inline constexpr HRESULT kWbemETypeMismatch = static_cast<HRESULT>(0x80041005);
inline constexpr HRESULT kWbemEInvalidNamespace = static_cast<HRESULT>(0x8004100E);
inline constexpr HRESULT kWbemEInvalidQuery = static_cast<HRESULT>(0x80041017);
inline constexpr HRESULT kWbemECallCancelled = static_cast<HRESULT>(0x80041032);
inline constexpr bool Failed(HRESULT hr) { return hr < 0; }

inline constexpr DWORD kCoinitMultithreaded = 0x0;
inline constexpr DWORD kCoinitApartmentThreaded = 0x2;
inline constexpr long kWbemFlagSendStatus = 128;
inline constexpr long kWbemStatusComplete = 0;
inline constexpr long kWbemStatusProgress = 2;

// COM initialisation of the calling thread (CoInitializeEx / CoUninitialize) and the process's
// security (CoInitializeSecurity with no descriptor, every authentication service, default
// authentication and impersonation).
HRESULT CoInitializeEx(DWORD coinit);
void CoUninitialize();
HRESULT CoInitializeSecurity();

enum class Iid { Unknown, WbemObjectSink };

// IWbemObjectSink: what WMI calls back with events. The object owns itself through its count.
class IWbemObjectSink {
public:
    virtual HRESULT QueryInterface(Iid iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    // `objects` are the event objects' properties as text ("__Class" among them).
    virtual HRESULT Indicate(long count, const WmiRow* objects) = 0;
    virtual HRESULT SetStatus(long flags, HRESULT result) = 0;

protected:
    virtual ~IWbemObjectSink() = default;
};

// Handles of the WMI client's objects; 0 is none. Each is released with WmiRelease, once.
using HWMILOCATOR = std::uintptr_t;
using HWMISERVICES = std::uintptr_t;
using HWMIOBJECT = std::uintptr_t;
using HWMIAPARTMENT = std::uintptr_t;
void WmiRelease(std::uintptr_t handle);

// A property value: a BSTR (CIM numbers travel as decimal text) or a safe array of bytes.
using WmiValue = std::variant<std::monostate, std::wstring, std::vector<std::uint8_t>>;

HRESULT WmiCreateLocator(HWMILOCATOR* locator);                       // CoCreateInstance
HRESULT WmiConnectServer(HWMILOCATOR locator, std::wstring_view nameSpace, HWMISERVICES* services);
HRESULT WmiSetProxyBlanket(HWMISERVICES services);                    // NTLM, call level, impersonate

// GetObject of a class, GetMethod for its input definition, SpawnInstance of that definition.
HRESULT WmiGetObject(HWMISERVICES services, std::wstring_view className, HWMIOBJECT* classObject);
HRESULT WmiGetMethod(HWMIOBJECT classObject, std::wstring_view method, HWMIOBJECT* inDefinition);
HRESULT WmiSpawnInstance(HWMIOBJECT definition, HWMIOBJECT* instance);
// Put fails with kWbemENotFound for a property the object does not have and kWbemETypeMismatch
// for a value of the wrong kind.
HRESULT WmiPut(HWMIOBJECT object, std::wstring_view name, const WmiValue& value);
HRESULT WmiGet(HWMIOBJECT object, std::wstring_view name, WmiValue* value);
HRESULT WmiExecMethod(HWMISERVICES services, std::wstring_view objectPath, std::wstring_view method,
                      HWMIOBJECT input, HWMIOBJECT* output);

// The unsecured apartment and its object stub: the stub holds a reference to `sink` and hands out
// the proxy that WMI calls.
HRESULT WmiCreateUnsecuredApartment(HWMIAPARTMENT* apartment);
HRESULT WmiCreateObjectStub(HWMIAPARTMENT apartment, IWbemObjectSink* sink, IWbemObjectSink** stub);

// Subscribes `sink` (holding a reference) to the events of the WQL query
// "SELECT * FROM <class>". CancelAsyncCall ends the subscription, waits for a delivery in progress
// and drops the reference.
HRESULT WmiExecNotificationQueryAsync(HWMISERVICES services, std::wstring_view language,
                                      std::wstring_view query, long flags, IWbemObjectSink* sink);
HRESULT WmiCancelAsyncCall(HWMISERVICES services, IWbemObjectSink* sink);

}  // namespace plat
