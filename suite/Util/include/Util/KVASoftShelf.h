// Facts about the suite's edition: which plug-ins it ships, which regional properties it has,
// whether it is the IT (managed fleet) or a beta edition, whether the machine carries the white
// logo. Read from suite::ConfigFolder() + "\\SoftShelf.xml":
//
//   <softshelf it="0" beta="0" whiteLogo="0">
//     <plugin name="MsgPop"/>                          <!-- pop-up notices and idle updates -->
//     <property name="VTLoginGuide" value="china"/>    <!-- a property may have several values -->
//   </softshelf>
//
// Without the file the edition is the standard consumer one: "MsgPop" supported, no properties,
// neither IT nor beta, no white logo. With the file, only what it lists is supported. The file is
// read again when it changes. Thread-safe.
#pragma once

#include <filesystem>
#include <string>

#include "Util/Singleton.h"

class CKVASoftShelf : public suite::CSingleton<CKVASoftShelf> {
public:
    static CKVASoftShelf* GetInstance();

    static bool IsITVersion();
    bool IsBetaVersion();
    bool IsWhiteLogoMachineType();
    // 1 when the edition ships the plug-in, else 0.
    int IsSupportPlugin(const std::string& plugin);
    // 1 when the property has that value in this edition, else 0.
    int IsSupportProperty(const std::string& property, const std::string& value);

    static std::filesystem::path FilePath();

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};
