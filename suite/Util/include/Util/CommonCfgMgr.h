// The suite's common configuration: suite::ConfigFolder() + "\\commoncfg.xml".
//
//   <commoncfg>
//     <UpdateService url="http://127.0.0.1:8731/" publicKey="(base64 of the raw Ed25519 key)"/>
//     <Update enable="1" initTime="1" queryPeriod="240" forceUpdate="1" batteryPercent="30">
//       <IdleUpdate name="Onboard Audio Driver"/>   <!-- packages allowed to update when idle -->
//     </Update>
//   </commoncfg>
//
// A missing file or attribute gives the default named beside each getter. The file is read again
// when it changes on disk, so a running service sees edits. Thread-safe.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "Util/Singleton.h"

class CCommonCfgMgr : public suite::CSingleton<CCommonCfgMgr> {
public:
    static CCommonCfgMgr& getInstance();

    bool isEnableUpdate();          // enable, default true
    int getInitTime();              // initTime in minutes, default 5
    int getQueryLocalPeriod();      // queryPeriod in minutes, default 240
    bool EnableForceUpdate();       // forceUpdate, default true
    int getBatteryPrecent();        // batteryPercent; below 1 means none configured; default 0
    bool IsSupportIdleUpdate(const std::string& driverName);  // listed under IdleUpdate
    // Every name listed under IdleUpdate at once, for callers that ask about many packages.
    std::set<std::string> GetIdleUpdateNames();
    std::string GetUpdateServiceUrl();   // default empty: no service configured
    std::string GetMakerPublicKey();     // base64, default empty

    // Host path of the file, for tools that write it.
    static std::filesystem::path FilePath();

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};
