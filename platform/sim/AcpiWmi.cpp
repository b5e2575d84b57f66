// The simulated ACPI-WMI firmware of the PD controller: one method class, one event class, and
// event delivery on threads of its own that cancellation joins.
#include "kva/platform/AcpiWmi.h"

#include <atomic>
#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "../common/ForwardingSink.h"
#include "SimDevicesInternal.h"
#include "kva/platform/Clock.h"
#include "kva/platform/SimDevices.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

constexpr std::string_view kNamespace = "ROOT\\WMI";
constexpr std::string_view kMethodClass = "OemWMIMethod";
constexpr std::string_view kMethod = "OemWMIfun";
constexpr std::string_view kInstancePath = "OemWMIMethod.InstanceName='ACPI\\PNP0C14\\VTMI_0'";
constexpr std::string_view kEventClass = "OemWMIEvent";
constexpr std::uint64_t kFlashCommand = 0x0D06;
constexpr std::size_t kInputBytes = 64;
constexpr std::size_t kOutputBytes = 256;

enum class Kind { Locator, Services, Class, MethodDef, Instance, Apartment };

struct Object {
    Kind kind;
    std::map<std::string, WmiValue> props;  // Instance: the properties it has (set or not)
};

struct Subscription {
    HWMISERVICES services;
    IWbemObjectSink* sink;
};

struct Emission {
    HWMISERVICES services;
    std::unique_ptr<CEvent> cancel = std::make_unique<CEvent>();
    std::thread thread;
    bool done = false;
};

std::mutex g_wmiMtx;  // the tables below
std::map<std::uintptr_t, Object> g_objects;
std::uintptr_t g_nextHandle = 0x7000;
std::list<Subscription> g_subscriptions;
std::list<Emission> g_emissions;
std::mutex g_delivery;  // held while a sink is called, so cancelling waits for a delivery
bool g_securityDone = false;

thread_local int t_comCount = 0;
thread_local DWORD t_comMode = 0;

std::uintptr_t NewObject(Kind kind, std::map<std::string, WmiValue> props = {}) {
    std::lock_guard lock(g_wmiMtx);
    const std::uintptr_t h = g_nextHandle++;
    g_objects.emplace(h, Object{kind, std::move(props)});
    return h;
}

Object* FindLocked(std::uintptr_t h, Kind kind) {
    auto it = g_objects.find(h);
    return it != g_objects.end() && it->second.kind == kind ? &it->second : nullptr;
}

bool Exists(std::uintptr_t h, Kind kind) {
    std::lock_guard lock(g_wmiMtx);
    return FindLocked(h, kind) != nullptr;
}

void Deliver(std::uint32_t eventId) {
    std::lock_guard delivery(g_delivery);
    std::vector<IWbemObjectSink*> sinks;
    {
        std::lock_guard lock(g_wmiMtx);
        for (auto& s : g_subscriptions) {
            s.sink->AddRef();
            sinks.push_back(s.sink);
        }
    }
    const WmiRow row{{"__Class", std::string(kEventClass)}, {"Force", std::to_string(eventId)}};
    for (IWbemObjectSink* sink : sinks) {
        sink->Indicate(1, &row);
        sink->Release();
    }
}

// Joins the emissions of `services` (0: every one), cancelling those that have not fired.
void StopEmissions(HWMISERVICES services) {
    std::list<Emission> stopped;
    {
        std::lock_guard lock(g_wmiMtx);
        for (auto it = g_emissions.begin(); it != g_emissions.end();) {
            auto next = std::next(it);
            if (services == 0 || it->services == services || it->done) {
                it->cancel->Set();
                stopped.splice(stopped.end(), g_emissions, it);
            }
            it = next;
        }
    }
    for (auto& e : stopped) {
        if (e.thread.joinable()) e.thread.join();
    }
}

// Joins every emission thread when the port unloads.
struct EmissionReaper {
    ~EmissionReaper() { StopEmissions(0); }
} g_reaper;

void ScheduleEmission(HWMISERVICES services, std::uint32_t eventId, std::uint32_t delayMs) {
    StopEmissions(static_cast<HWMISERVICES>(-1));  // reaps the finished ones only
    std::lock_guard lock(g_wmiMtx);
    Emission& e = g_emissions.emplace_back();
    e.services = services;
    e.thread = std::thread([&e, eventId, delayMs] {
        if (CClock::Get().Wait({e.cancel.get()}, delayMs) == WaitResult::Timeout) Deliver(eventId);
        std::lock_guard inner(g_wmiMtx);
        e.done = true;
    });
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02x" : "%02x", bytes[i]);
        out += b;
    }
    return out;
}

// The command the input carries: "u64Input" when set, else the first 8 bytes of "u8Input".
bool ReadCommand(const Object& in, std::uint64_t* command, std::string* detail) {
    auto u64 = in.props.find("u64Input");
    if (u64 != in.props.end() && std::holds_alternative<std::wstring>(u64->second)) {
        const std::string text = ToUtf8(std::get<std::wstring>(u64->second));
        *detail = "u64Input=" + text;
        try {
            *command = std::stoull(text);
        } catch (...) {
            return false;
        }
        return true;
    }
    auto u8 = in.props.find("u8Input");
    if (u8 != in.props.end() && std::holds_alternative<std::vector<std::uint8_t>>(u8->second)) {
        const auto& bytes = std::get<std::vector<std::uint8_t>>(u8->second);
        *detail = "u8Input=" + Hex(bytes);
        *command = 0;
        for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i) {
            *command |= std::uint64_t(bytes[i]) << (8 * i);
        }
        return true;
    }
    return false;
}

}  // namespace

HRESULT CoInitializeEx(DWORD coinit) {
    if (t_comCount > 0 && t_comMode != coinit) return kRpcEChangedMode;
    t_comMode = coinit;
    return t_comCount++ == 0 ? kSOk : kSFalse;
}

void CoUninitialize() {
    if (t_comCount > 0) --t_comCount;
}

HRESULT CoInitializeSecurity() {
    std::lock_guard lock(g_wmiMtx);
    if (g_securityDone) return kRpcETooLate;
    g_securityDone = true;
    return kSOk;
}

void WmiRelease(std::uintptr_t handle) {
    bool services = false;
    {
        std::lock_guard lock(g_wmiMtx);
        auto it = g_objects.find(handle);
        if (it == g_objects.end()) return;
        services = it->second.kind == Kind::Services;
        g_objects.erase(it);
    }
    if (services) StopEmissions(handle);
}

HRESULT WmiCreateLocator(HWMILOCATOR* locator) {
    if (!locator) return kEPointer;
    *locator = NewObject(Kind::Locator);
    return kSOk;
}

HRESULT WmiConnectServer(HWMILOCATOR locator, std::wstring_view nameSpace, HWMISERVICES* services) {
    if (!services) return kEPointer;
    *services = 0;
    if (!Exists(locator, Kind::Locator)) return kWbemEFailed;
    if (!EqualsNoCase(ToUtf8(nameSpace), kNamespace)) return kWbemEInvalidNamespace;
    *services = NewObject(Kind::Services);
    return kSOk;
}

HRESULT WmiSetProxyBlanket(HWMISERVICES services) {
    return Exists(services, Kind::Services) ? kSOk : kWbemEFailed;
}

HRESULT WmiGetObject(HWMISERVICES services, std::wstring_view className, HWMIOBJECT* classObject) {
    if (!classObject) return kEPointer;
    *classObject = 0;
    if (!Exists(services, Kind::Services)) return kWbemEFailed;
    if (ToUtf8(className) != kMethodClass) return kWbemENotFound;
    *classObject = NewObject(Kind::Class);
    return kSOk;
}

HRESULT WmiGetMethod(HWMIOBJECT classObject, std::wstring_view method, HWMIOBJECT* inDefinition) {
    if (!inDefinition) return kEPointer;
    *inDefinition = 0;
    if (!Exists(classObject, Kind::Class)) return kWbemEFailed;
    if (ToUtf8(method) != kMethod) return kWbemENotFound;
    std::map<std::string, WmiValue> props{{"u8Input", WmiValue{}}};
    if (!CurrentPdScript().u8InputOnly) props.emplace("u64Input", WmiValue{});
    *inDefinition = NewObject(Kind::MethodDef, std::move(props));
    return kSOk;
}

HRESULT WmiSpawnInstance(HWMIOBJECT definition, HWMIOBJECT* instance) {
    if (!instance) return kEPointer;
    std::map<std::string, WmiValue> props;
    {
        std::lock_guard lock(g_wmiMtx);
        Object* def = FindLocked(definition, Kind::MethodDef);
        if (!def) return kWbemEFailed;
        props = def->props;
    }
    *instance = NewObject(Kind::Instance, std::move(props));
    return kSOk;
}

HRESULT WmiPut(HWMIOBJECT object, std::wstring_view name, const WmiValue& value) {
    std::lock_guard lock(g_wmiMtx);
    Object* obj = FindLocked(object, Kind::Instance);
    if (!obj) return kWbemEFailed;
    auto it = obj->props.find(ToUtf8(name));
    if (it == obj->props.end()) return kWbemENotFound;
    const bool wantText = it->first == "u64Input";
    if (wantText ? !std::holds_alternative<std::wstring>(value)
                 : !std::holds_alternative<std::vector<std::uint8_t>>(value)) {
        return kWbemETypeMismatch;
    }
    it->second = value;
    return kSOk;
}

HRESULT WmiGet(HWMIOBJECT object, std::wstring_view name, WmiValue* value) {
    if (!value) return kEPointer;
    std::lock_guard lock(g_wmiMtx);
    Object* obj = FindLocked(object, Kind::Instance);
    if (!obj) return kWbemEFailed;
    auto it = obj->props.find(ToUtf8(name));
    if (it == obj->props.end()) return kWbemENotFound;
    *value = it->second;
    return kSOk;
}

HRESULT WmiExecMethod(HWMISERVICES services, std::wstring_view objectPath, std::wstring_view method,
                      HWMIOBJECT input, HWMIOBJECT* output) {
    if (!output) return kEPointer;
    *output = 0;
    Object in;
    {
        std::lock_guard lock(g_wmiMtx);
        Object* obj = FindLocked(input, Kind::Instance);
        if (!FindLocked(services, Kind::Services) || !obj) return kWbemEFailed;
        in = *obj;
    }
    if (ToUtf8(objectPath) != kInstancePath || ToUtf8(method) != kMethod) return kWbemENotFound;
    const PdScript script = CurrentPdScript();
    std::uint64_t command = 0;
    std::string detail;
    if (!ReadCommand(in, &command, &detail)) return kWbemEFailed;
    sim::RecordDeviceCall("OemWMIMethod", "method", detail, 0);
    if (script.methodFails) return kWbemEFailed;
    std::vector<std::uint8_t> out(kOutputBytes, 0);
    out[0] = script.reply;
    if (command == kFlashCommand && script.reply == 0 && script.eventId) {
        if (script.early) Deliver(*script.eventId);
        else ScheduleEmission(services, *script.eventId, script.delayMs);
    }
    *output = NewObject(Kind::Instance, {{"u8Output", WmiValue{std::move(out)}}});
    return kSOk;
}

HRESULT WmiCreateUnsecuredApartment(HWMIAPARTMENT* apartment) {
    if (!apartment) return kEPointer;
    *apartment = NewObject(Kind::Apartment);
    return kSOk;
}

HRESULT WmiCreateObjectStub(HWMIAPARTMENT apartment, IWbemObjectSink* sink, IWbemObjectSink** stub) {
    if (!stub || !sink) return kEPointer;
    *stub = nullptr;
    if (!Exists(apartment, Kind::Apartment)) return kWbemEFailed;
    *stub = new detail::CForwardingSink(sink);
    return kSOk;
}

HRESULT WmiExecNotificationQueryAsync(HWMISERVICES services, std::wstring_view language,
                                      std::wstring_view query, long, IWbemObjectSink* sink) {
    if (!sink) return kEPointer;
    if (!Exists(services, Kind::Services)) return kWbemEFailed;
    std::string q = ToUtf8(query);
    while (!q.empty() && q.back() == ' ') q.pop_back();
    if (!EqualsNoCase(ToUtf8(language), "WQL") ||
        !EqualsNoCase(q, "SELECT * FROM " + std::string(kEventClass))) {
        return kWbemEInvalidQuery;
    }
    sink->AddRef();
    std::lock_guard lock(g_wmiMtx);
    g_subscriptions.push_back({services, sink});
    return kSOk;
}

HRESULT WmiCancelAsyncCall(HWMISERVICES services, IWbemObjectSink* sink) {
    std::list<Subscription> gone;
    {
        std::lock_guard lock(g_wmiMtx);
        for (auto it = g_subscriptions.begin(); it != g_subscriptions.end();) {
            auto next = std::next(it);
            if (it->services == services && it->sink == sink) gone.splice(gone.end(), g_subscriptions, it);
            it = next;
        }
    }
    if (gone.empty()) return kWbemENotFound;
    StopEmissions(services);
    { std::lock_guard wait(g_delivery); }  // a delivery that took its references has ended
    for (auto& s : gone) {
        s.sink->SetStatus(kWbemStatusComplete, kWbemECallCancelled);
        s.sink->Release();
    }
    return kSOk;
}

}  // namespace plat
