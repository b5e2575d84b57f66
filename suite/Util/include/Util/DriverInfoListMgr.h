// What the suite knows about each driver type code: the application (device) name shown in
// notices, whether the package is a driver or a firmware, and which packages must be installed
// before it. Read from suite::ConfigFolder() + "\\DriverCfg.xml":
//
//   <DriverCfg>
//     <Driver id="14" appName="Onboard Audio" type="1">   <!-- type 2: firmware, else driver -->
//       <Depend id="1"/>                                   <!-- installed before this one -->
//     </Driver>
//   </DriverCfg>
//
// A code that the file does not list has no name, the driver type and no dependency. The file is
// read again when it changes. Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Util/Singleton.h"

class CDriverInfoListMgr : public suite::CSingleton<CDriverInfoListMgr> {
public:
    static constexpr std::uint32_t kTypeDriver = 1;
    static constexpr std::uint32_t kTypeFirmware = 2;

    static CDriverInfoListMgr& getInstance();

    std::wstring getAppName(const std::string& code);
    std::uint32_t getDrvType(const std::string& code);
    std::vector<std::string> getDrvDepend(const std::string& code);

    static std::filesystem::path FilePath();

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};
