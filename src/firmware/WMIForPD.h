// One ACPI-WMI connection for the PD upgrade: connect to a namespace, subscribe the event sink,
// call the firmware's method once, and on destruction cancel the subscription and release
// everything once. Lives on the one thread that runs the upgrade (COM is initialised there).
#pragma once

#include <cstdint>
#include <string>

#include "kva/platform/AcpiWmi.h"

class CWMIForPD {
public:
    static constexpr std::size_t kInputBytes = 64;
    static constexpr std::size_t kOutputBytes = 256;

    explicit CWMIForPD(const std::wstring& nameSpace);  // connects at once
    CWMIForPD(const CWMIForPD&) = delete;
    CWMIForPD& operator=(const CWMIForPD&) = delete;
    ~CWMIForPD();

    int Init();  // 1 connected; a second call returns the first one's result
    int InitCom();
    int InitSecurity();
    int InitCreateInstance();
    int StartCatchOemEvent();
    // `input` is a 64-byte block, `output` a 256-byte buffer; `length` is not used.
    int GetOutPutUIntEx(const std::uint8_t* input, std::uint8_t* output, std::uint32_t length);

private:
    bool ConnectAndSecure();
    bool PutInput(plat::HWMIOBJECT inInstance, const std::uint8_t* input);
    bool ReadOutput(plat::HWMIOBJECT outObject, std::uint8_t* output);

    plat::HRESULT m_hres = -1;
    plat::HWMILOCATOR m_pLoc = 0;
    plat::HWMISERVICES m_pSvc = 0;
    std::wstring m_bstrClassName = L"OemWMIMethod";
    std::wstring m_bstrMethodName = L"OemWMIfun";
    int m_bInit = 0;
    bool m_bInitTried = false;
    std::wstring m_strNamespace;
    plat::IWbemObjectSink* m_pStubSink = nullptr;
    bool m_bComInitHere = false;
};
