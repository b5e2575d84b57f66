#include "firmware/WMIForPD.h"

#include <cstring>
#include <vector>

#include "firmware/EventSink.h"
#include "firmware/biosPDUpgrade.h"
#include "kva/platform/DebugOutput.h"
#include "kva/platform/Log.h"
#include "kva/platform/Text.h"

namespace {

constexpr const wchar_t* kInstanceName = L"ACPI\\PNP0C14\\VTMI_0";
constexpr const wchar_t* kEventQuery = L"SELECT * FROM OemWMIEvent ";

std::string HexResult(plat::HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(hr));
    return text;
}

// Releases a WMI handle when it leaves scope.
class CScopedWmi {
public:
    CScopedWmi() = default;
    CScopedWmi(const CScopedWmi&) = delete;
    CScopedWmi& operator=(const CScopedWmi&) = delete;
    ~CScopedWmi() {
        if (m_h) plat::WmiRelease(m_h);
    }
    std::uintptr_t* operator&() { return &m_h; }
    std::uintptr_t get() const { return m_h; }

private:
    std::uintptr_t m_h = 0;
};

}  // namespace

CWMIForPD::CWMIForPD(const std::wstring& nameSpace) : m_strNamespace(nameSpace) { Init(); }

CWMIForPD::~CWMIForPD() {
    if (m_pStubSink) {
        if (m_pSvc) plat::WmiCancelAsyncCall(m_pSvc, m_pStubSink);
        m_pStubSink->Release();
        m_pStubSink = nullptr;
    }
    if (m_pSvc) plat::WmiRelease(m_pSvc);
    if (m_pLoc) plat::WmiRelease(m_pLoc);
    m_pSvc = m_pLoc = 0;
    if (m_bComInitHere) plat::CoUninitialize();
    m_bComInitHere = false;
}

int CWMIForPD::Init() {
    if (m_bInitTried) return m_bInit;
    m_bInitTried = true;
    if (!InitCom()) return 0;
    if (InitSecurity() && InitCreateInstance() && ConnectAndSecure()) {
        m_bInit = 1;
        return 1;
    }
    if (m_bComInitHere) {
        plat::CoUninitialize();
        m_bComInitHere = false;
    }
    return 0;
}

int CWMIForPD::InitCom() {
    m_hres = plat::CoInitializeEx(plat::kCoinitMultithreaded);
    KVA_LOG_WARN("CoInitializeEx COINIT_MULTITHREADED res:" << m_hres);
    if (m_hres == plat::kRpcEChangedMode) {
        m_hres = plat::CoInitializeEx(plat::kCoinitApartmentThreaded);
        KVA_LOG_WARN("CoInitializeEx COINIT_APARTMENTTHREADED res:" << m_hres);
    }
    m_bComInitHere = m_hres == plat::kSOk;
    return plat::Failed(m_hres) ? 0 : 1;
}

int CWMIForPD::InitSecurity() {
    m_hres = plat::CoInitializeSecurity();
    KVA_LOG_WARN("CoInitializeSecurity res:" << m_hres);
    return !plat::Failed(m_hres) || m_hres == plat::kRpcETooLate ? 1 : 0;
}

int CWMIForPD::InitCreateInstance() {
    m_hres = plat::WmiCreateLocator(&m_pLoc);
    KVA_LOG_WARN("CoCreateInstance res:" << m_hres);
    return plat::Failed(m_hres) ? 0 : 1;
}

bool CWMIForPD::ConnectAndSecure() {
    m_hres = plat::WmiConnectServer(m_pLoc, m_strNamespace, &m_pSvc);
    if (plat::Failed(m_hres)) {
        KVA_LOG_ERROR("ConnectServer failed res:" << HexResult(m_hres));
        plat::WmiRelease(m_pLoc);
        m_pLoc = 0;
        return false;
    }
    m_hres = plat::WmiSetProxyBlanket(m_pSvc);
    if (plat::Failed(m_hres)) {
        KVA_LOG_ERROR("CoSetProxyBlanket failed res:" << HexResult(m_hres));
        plat::WmiRelease(m_pSvc);
        plat::WmiRelease(m_pLoc);
        m_pSvc = m_pLoc = 0;
        return false;
    }
    return true;
}

int CWMIForPD::StartCatchOemEvent() {
    if (!m_bInit || m_pStubSink) return 0;
    CScopedWmi apartment;
    m_hres = plat::WmiCreateUnsecuredApartment(&apartment);
    plat::OutputDebugString(L"WMI CoCreateInstance");
    if (plat::Failed(m_hres)) return 0;

    auto* sink = new CEventSink(&UpgradePD::GetWmiEventIDCallback);
    sink->AddRef();
    plat::IWbemObjectSink* stub = nullptr;
    m_hres = plat::WmiCreateObjectStub(apartment.get(), sink, &stub);
    plat::OutputDebugString(L"WMI CreateObjectStub");
    if (!plat::Failed(m_hres)) {
        void* proxy = nullptr;
        m_hres = stub->QueryInterface(plat::Iid::WbemObjectSink, &proxy);
        plat::OutputDebugString(L"WMI QueryInterface");
        if (!plat::Failed(m_hres)) {
            m_pStubSink = static_cast<plat::IWbemObjectSink*>(proxy);
            m_hres = plat::WmiExecNotificationQueryAsync(m_pSvc, L"WQL", kEventQuery,
                                                         plat::kWbemFlagSendStatus, m_pStubSink);
            plat::OutputDebugString(L"WMI ExecNotificationQueryAsync");
        }
    }
    plat::OutputDebugString(L"WMI StartCatchOemEvent release");
    sink->Release();
    if (stub) stub->Release();
    if (plat::Failed(m_hres)) {
        KVA_LOG_ERROR("event subscription failed res:" << HexResult(m_hres));
        return 0;
    }
    return 1;
}

bool CWMIForPD::PutInput(plat::HWMIOBJECT inInstance, const std::uint8_t* input) {
    std::uint64_t command = 0;
    for (int i = 0; i < 8; ++i) command |= std::uint64_t(input[i]) << (8 * i);
    m_hres = plat::WmiPut(inInstance, L"u64Input", plat::WmiValue{std::to_wstring(command)});
    if (m_hres == plat::kSOk) return true;
    std::vector<std::uint8_t> bytes(input, input + kInputBytes);
    m_hres = plat::WmiPut(inInstance, L"u8Input", plat::WmiValue{std::move(bytes)});
    return !plat::Failed(m_hres);
}

bool CWMIForPD::ReadOutput(plat::HWMIOBJECT outObject, std::uint8_t* output) {
    plat::WmiValue value;
    m_hres = plat::WmiGet(outObject, L"u8Output", &value);
    KVA_LOG_WARN("getoutput res " << m_hres);
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value);
    const plat::HRESULT access = bytes ? plat::kSOk : plat::kWbemETypeMismatch;
    KVA_LOG_WARN("SafeArrayAccessData res " << access);
    if (plat::Failed(m_hres) || !bytes) return false;
    std::memset(output, 0, kOutputBytes);
    std::memcpy(output, bytes->data(), std::min(bytes->size(), kOutputBytes));
    return true;
}

int CWMIForPD::GetOutPutUIntEx(const std::uint8_t* input, std::uint8_t* output, std::uint32_t) {
    if (!m_bInit || !input || !output) return 0;
    CScopedWmi classObject, inDefinition, inInstance, outObject;
    m_hres = plat::WmiGetObject(m_pSvc, m_bstrClassName, &classObject);
    if (!plat::Failed(m_hres)) m_hres = plat::WmiGetMethod(classObject.get(), m_bstrMethodName, &inDefinition);
    if (!plat::Failed(m_hres)) m_hres = plat::WmiSpawnInstance(inDefinition.get(), &inInstance);
    if (plat::Failed(m_hres) || !PutInput(inInstance.get(), input)) {
        KVA_LOG_ERROR("method input failed res:" << HexResult(m_hres));
        return 0;
    }
    const std::wstring path = m_bstrClassName + L".InstanceName='" + kInstanceName + L"'";
    m_hres = plat::WmiExecMethod(m_pSvc, path, m_bstrMethodName, inInstance.get(), &outObject);
    KVA_LOG_WARN("execMethod res " << m_hres << "class " << plat::ToUtf8(path) << " methodName"
                                   << plat::ToUtf8(m_bstrMethodName));
    if (plat::Failed(m_hres)) return 0;
    return ReadOutput(outObject.get(), output) ? 1 : 0;
}
