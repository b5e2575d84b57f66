// Whether the suite's driver updates serve this machine model. The supported models are listed in
// suite::ConfigFolder() + "\\DriverCfg.xml":
//
//   <DriverCfg>
//     <SupportDevices>
//       <Device product="Vantor Book 14"/>   <!-- whole product name, any case -->
//       <Device product="Vantor Book *"/>    <!-- a trailing '*' matches any rest -->
//     </SupportDevices>
//   </DriverCfg>
//
// Without a <SupportDevices> element every model is supported; an empty one supports none. The
// machine's model is ProductAdapt::MachineType's product name. Thread-safe.
#pragma once

#include <string>

#include "Util/Singleton.h"

class SMBIOSHelper : public suite::CSingleton<SMBIOSHelper> {
public:
    static SMBIOSHelper* GetInstance();

    bool IsSupportDevice();
    // The matching rule on its own, for callers that already have a product name.
    bool IsSupportProduct(const std::string& productName);

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};
