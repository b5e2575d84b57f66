// `kva settings` and `kva machine reg` as a person types them, against the test's machine.
#include <gtest/gtest.h>

#include "TestMachine.h"
#include "Util/DE.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Registry.h"

namespace {

class KvaRegistryVerbsTest : public kvatest::CTestMachine {
protected:
    // Runs kva with the global option after the verb, as people often do; stderr is in `out`.
    int Kva(const std::string& args, std::string* out = nullptr) {
        std::string text;
        const int rc = kvatest::RunCommand(kvatest::BinaryPath("kva").string() + " " + args + " --state '" +
                                               State().string() + "' 2>&1",
                                           &text);
        if (out) *out = text;
        return rc;
    }
    static std::wstring SettingKey() {
        return VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Vantor\\Pilotdeck\\setting";
    }
};

TEST_F(KvaRegistryVerbsTest, SettingsWriteTheValuesTheServiceReadsAndRefuseNonsense) {
    std::string out;
    ASSERT_EQ(Kva("settings set idle-driver-updates on", &out), 0) << out;
    ASSERT_EQ(Kva("settings set forced-updates off", &out), 0) << out;
    ASSERT_EQ(Kva("settings set agreement on", &out), 0) << out;
    plat::DWORD v = 7;
    ASSERT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", v));
    EXPECT_EQ(v, 1u);
    ASSERT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), L"forceupdate", v));
    EXPECT_EQ(v, 0u);
    std::wstring protocol;
    ASSERT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers,
                                       VTPROCESS::GetCurrentUserSidstr() + L"\\SOFTWARE\\Pilotdeck\\VTLoginGuide",
                                       L"Protocol", protocol));
    EXPECT_EQ(protocol, L"1") << "the agreement is a string value";

    EXPECT_NE(Kva("settings set driver-remind 3", &out), 0);
    EXPECT_NE(out.find("0, 1 or 2"), std::string::npos) << out;
    EXPECT_NE(Kva("settings set idle-driver-updates maybe", &out), 0);
    EXPECT_NE(Kva("settings set no-such-switch on", &out), 0);
    ASSERT_TRUE(DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), L"checkupdate", v));
    EXPECT_EQ(v, 1u) << "a refused change leaves the value alone";

    ASSERT_EQ(Kva("settings", &out), 0);
    EXPECT_NE(out.find("idle-driver-updates  on"), std::string::npos) << out;
    EXPECT_NE(out.find("app-remind           (not set)"), std::string::npos) << out;
}

TEST_F(KvaRegistryVerbsTest, RegSetGetListAndDeleteKeepWindowsTypes) {
    std::string out;
    ASSERT_EQ(Kva("machine reg set 'HKLM\\SOFTWARE\\Vantor\\Inventory\\15' Version 22.0.0.1", &out), 0) << out;
    ASSERT_EQ(Kva("machine reg set hklm/SOFTWARE/T Count 0x10 --type REG_DWORD", &out), 0) << out;
    ASSERT_EQ(Kva("machine reg get HKLM\\\\SOFTWARE\\\\T Count", &out), 0) << out;
    EXPECT_EQ(out, "Count  REG_DWORD  16\n");
    ASSERT_EQ(Kva("machine reg get 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantor\\Inventory\\15' Version", &out), 0);
    EXPECT_EQ(out, "Version  REG_SZ  \"22.0.0.1\"\n");

    EXPECT_NE(Kva("machine reg set HKLM/SOFTWARE/T Count twelve -t REG_DWORD", &out), 0);
    EXPECT_NE(Kva("machine reg set HKCU/SOFTWARE/T Count 1", &out), 0);
    EXPECT_NE(out.find("HKLM"), std::string::npos) << "says how to name a key: " << out;
    EXPECT_NE(Kva("machine reg get HKLM/SOFTWARE/T Missing", &out), 0);
    EXPECT_NE(out.find("not found"), std::string::npos) << out;

    ASSERT_EQ(Kva("machine reg list HKLM/SOFTWARE/Vantor", &out), 0);
    EXPECT_NE(out.find("Inventory\\15]"), std::string::npos) << out;
    EXPECT_EQ(out.find("SOFTWARE\\T]"), std::string::npos) << "only keys under the prefix: " << out;

    ASSERT_EQ(Kva("machine reg delete HKLM/SOFTWARE/T Count", &out), 0) << out;
    EXPECT_NE(Kva("machine reg get HKLM/SOFTWARE/T Count"), 0);
    ASSERT_EQ(Kva("machine reg delete HKLM/SOFTWARE/Vantor", &out), 0) << out;
    EXPECT_NE(Kva("machine reg get 'HKLM\\SOFTWARE\\Vantor\\Inventory\\15' Version"), 0) << "the whole tree went";
    EXPECT_NE(Kva("machine reg delete HKLM", &out), 0) << "a hive is never deleted";
}

TEST_F(KvaRegistryVerbsTest, VolatileKeysFromRegSetVanishAtAReboot) {
    ASSERT_EQ(Kva("machine reg set HKLM/SOFTWARE/BootOnly Flag 1 --volatile -t REG_DWORD"), 0);
    ASSERT_EQ(Kva("machine reg get HKLM/SOFTWARE/BootOnly Flag"), 0);
    ASSERT_EQ(Kva("machine reboot"), 0);
    EXPECT_NE(Kva("machine reg get HKLM/SOFTWARE/BootOnly Flag"), 0);
}

}  // namespace
