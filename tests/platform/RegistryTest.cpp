#include <cstdint>
#include <fstream>
#include <map>

#include "TestMachine.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Registry.h"

namespace {

using namespace plat;

class RegistryTest : public kvatest::CTestMachine {
protected:
    const std::wstring sid = CurrentUserSid();
    const std::wstring pilotdeck = sid + L"\\SOFTWARE\\Vantor\\Pilotdeck";
};

TEST_F(RegistryTest, ValuesRoundTripAndMissingThingsAreNotFound) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKey(kHKeyUsers, pilotdeck + L"\\setting", kKeyRead, &key), kErrorFileNotFound);
    EXPECT_EQ(key, 0u);

    DWORD disp = 0;
    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\setting", kRegOptionNonVolatile, kKeyAllAccess, &key, &disp),
              kErrorSuccess);
    EXPECT_EQ(disp, kRegCreatedNewKey);
    EXPECT_EQ(RegSetDword(key, L"checkupdate", 1), kErrorSuccess);
    EXPECT_EQ(RegSetString(key, L"lastversion", L"5.1.0.7 \u00e9\u4e2d"), kErrorSuccess);
    RegCloseKey(key);

    // Paths and names compare without case, as on Windows.
    ASSERT_EQ(RegOpenKey(kHKeyUsers, sid + L"\\software\\VANTOR\\pilotdeck\\Setting", kKeyRead, &key), kErrorSuccess);
    DWORD v = 0;
    EXPECT_EQ(RegGetDword(key, L"CheckUpdate", &v), kErrorSuccess);
    EXPECT_EQ(v, 1u);
    std::wstring s;
    EXPECT_EQ(RegGetString(key, L"lastversion", &s), kErrorSuccess);
    EXPECT_EQ(s, L"5.1.0.7 \u00e9\u4e2d");
    EXPECT_EQ(RegGetDword(key, L"lastversion", &v), kErrorUnsupportedType);
    EXPECT_EQ(RegGetDword(key, L"absent", &v), kErrorFileNotFound);
    // A read-only handle (0x20019) cannot write.
    EXPECT_EQ(RegSetDword(key, L"checkupdate", 0), kErrorAccessDenied);
    RegCloseKey(key);
    EXPECT_EQ(RegGetDword(key, L"checkupdate", &v), kErrorInvalidHandle);

    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\setting", 0, kKeyAllAccess, &key, &disp), kErrorSuccess);
    EXPECT_EQ(disp, kRegOpenedExistingKey);
    EXPECT_EQ(RegDeleteValue(key, L"checkupdate"), kErrorSuccess);
    EXPECT_EQ(RegDeleteValue(key, L"checkupdate"), kErrorFileNotFound);
    RegCloseKey(key);
}

TEST_F(RegistryTest, VolatileKeysLastExactlyOneBoot) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck, 0, kKeyAllAccess, &key), kErrorSuccess);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\FirstCheckAfterBoot", kRegOptionVolatile, kKeyAllAccess, &key),
              kErrorSuccess);
    ASSERT_EQ(RegSetDword(key, L"x", 7), kErrorSuccess);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKey(kHKeyLocalMachine, L"SOFTWARE\\Vantor\\BootStrap", kRegOptionVolatile, kKeyAllAccess, &key),
              kErrorSuccess);
    RegCloseKey(key);

    // Children of a volatile key must be volatile too.
    EXPECT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\FirstCheckAfterBoot\\child", 0, kKeyAllAccess, &key),
              kErrorChildMustBeVolatile);

    // Re-opening the machine (another process starting) keeps them within the boot.
    ASSERT_TRUE(OpenMachine(State()));
    EXPECT_EQ(RegOpenKey(kHKeyUsers, pilotdeck + L"\\FirstCheckAfterBoot", kKeyRead, &key), kErrorSuccess);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKey(kHKeyUsers, pilotdeck + L"\\FirstCheckAfterBoot", kKeyAllAccess, &key), kErrorSuccess);
    SimulateReboot();
    // A handle opened before the reboot sees its key gone.
    DWORD v = 0;
    EXPECT_NE(RegGetDword(key, L"x", &v), kErrorSuccess);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKey(kHKeyUsers, pilotdeck + L"\\FirstCheckAfterBoot", kKeyRead, &key), kErrorFileNotFound);
    EXPECT_EQ(RegOpenKey(kHKeyLocalMachine, L"SOFTWARE\\Vantor\\BootStrap", kKeyRead, &key), kErrorFileNotFound);
    EXPECT_EQ(RegOpenKey(kHKeyUsers, pilotdeck, kKeyRead, &key), kErrorSuccess) << "non-volatile key survives";
    RegCloseKey(key);

    // And the name can be created afresh in the new boot.
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\FirstCheckAfterBoot", kRegOptionVolatile, kKeyAllAccess, &key, &disp),
              kErrorSuccess);
    EXPECT_EQ(disp, kRegCreatedNewKey);
    EXPECT_EQ(RegGetDword(key, L"x", &v), kErrorFileNotFound);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DeleteTreeRemovesTheSubtreeOnlyAndRelativeOpensWork) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\DriverUp\\a", 0, kKeyAllAccess, &key), kErrorSuccess);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKey(kHKeyUsers, pilotdeck + L"\\DriverUpOther", 0, kKeyAllAccess, &key), kErrorSuccess);
    RegCloseKey(key);

    HKEY parent = 0;
    ASSERT_EQ(RegOpenKey(kHKeyUsers, pilotdeck, kKeyAllAccess, &parent), kErrorSuccess);
    EXPECT_EQ(RegOpenKey(parent, L"DriverUp\\a", kKeyRead, &key), kErrorSuccess);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTree(parent, L"DriverUp"), kErrorSuccess);
    EXPECT_EQ(RegOpenKey(parent, L"DriverUp\\a", kKeyRead, &key), kErrorFileNotFound);
    EXPECT_EQ(RegOpenKey(parent, L"DriverUpOther", kKeyRead, &key), kErrorSuccess);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteTree(parent, L"DriverUp"), kErrorFileNotFound);
    RegCloseKey(parent);
    EXPECT_EQ(RegOpenKey(0x1234, L"x", kKeyRead, &key), kErrorInvalidHandle);
}

void PutString(const std::wstring& path, DWORD options, const wchar_t* name, const std::wstring& text) {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKey(kHKeyLocalMachine, path, options, kKeyAllAccess, &key), kErrorSuccess);
    ASSERT_EQ(RegSetString(key, name, text), kErrorSuccess);
    RegCloseKey(key);
}

// The simulated registry splits paths leniently (Windows refuses a leading or doubled separator):
// such a path still names the key, also below an open handle.
TEST_F(RegistryTest, LooseSeparatorsNameTheSameKey) {
    PutString(L"SOFTWARE\\Vantor\\Pilotdeck\\setting", 0, L"lastversion", L"5.1");
    HKEY same = 0;
    ASSERT_EQ(RegOpenKey(kHKeyLocalMachine, L"\\SOFTWARE\\\\Vantor/Pilotdeck\\setting\\", kKeyRead, &same), kErrorSuccess);
    std::wstring s;
    EXPECT_EQ(RegGetString(same, L"lastversion", &s), kErrorSuccess);
    RegCloseKey(same);
    HKEY parent = 0;
    ASSERT_EQ(RegOpenKey(kHKeyLocalMachine, L"SOFTWARE", kKeyRead, &parent), kErrorSuccess);
    ASSERT_EQ(RegOpenKey(parent, L"\\Vantor//Pilotdeck\\setting", kKeyRead, &same), kErrorSuccess);
    EXPECT_EQ(RegGetStringAt(parent, L"Vantor\\Pilotdeck\\setting\\", L"lastversion", &s), kErrorSuccess);
    EXPECT_EQ(s, L"5.1");
    RegCloseKey(same);
    RegCloseKey(parent);
}

// The one-call reads see what a handle would see: no deeper keys, no other types.
TEST_F(RegistryTest, OneCallReadsAgreeWithHandleReads) {
    const std::wstring inv = L"SOFTWARE\\Vantor\\Inventory";
    auto put = PutString;
    put(inv + L"\\15", 0, L"Version", L"2.0");
    put(inv + L"\\Abc", 0, L"VERSION", L"1.1");
    put(inv + L"\\15\\deeper", 0, L"Version", L"9.9");
    put(inv + L"\\16", 0, L"Name", L"no version here");
    put(inv + L"\\Old", kRegOptionVolatile, L"Version", L"0.1");
    put(L"SOFTWARE\\Vantor\\Inventory2\\x", 0, L"Version", L"sibling, not a child");
    HKEY key = 0;
    ASSERT_EQ(RegOpenKey(kHKeyLocalMachine, inv + L"\\16", kKeyAllAccess, &key), kErrorSuccess);
    ASSERT_EQ(RegSetDword(key, L"Count", 3), kErrorSuccess);
    RegCloseKey(key);

    std::wstring s;
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv + L"\\ABC", L"version", &s), kErrorSuccess);
    EXPECT_EQ(s, L"1.1");
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv + L"\\16", L"Version", &s), kErrorFileNotFound);
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv + L"\\16", L"Count", &s), kErrorUnsupportedType);
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv + L"\\17", L"Version", &s), kErrorFileNotFound);

    std::map<std::string, std::wstring> all;
    ASSERT_EQ(RegGetStringsBelow(kHKeyLocalMachine, inv, L"Version", &all), kErrorSuccess);
    EXPECT_EQ(all, (std::map<std::string, std::wstring>{{"15", L"2.0"}, {"abc", L"1.1"}, {"old", L"0.1"}}));
    ASSERT_EQ(RegGetStringsBelow(kHKeyLocalMachine, L"SOFTWARE\\Nobody", L"Version", &all), kErrorSuccess);
    EXPECT_TRUE(all.empty());
}

TEST_F(RegistryTest, OneCallReadsSeeNothingFromAPastBoot) {
    const std::wstring inv = L"SOFTWARE\\Vantor\\Inventory";
    PutString(inv + L"\\15", 0, L"Version", L"2.0");
    PutString(inv + L"\\Old", kRegOptionVolatile, L"Version", L"0.1");
    SimulateReboot();
    std::wstring s;
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv + L"\\Old", L"Version", &s), kErrorFileNotFound);
    std::map<std::string, std::wstring> all;
    ASSERT_EQ(RegGetStringsBelow(kHKeyLocalMachine, inv, L"Version", &all), kErrorSuccess);
    EXPECT_EQ(all, (std::map<std::string, std::wstring>{{"15", L"2.0"}}));
}

// This process keeps what it read of the machine; a change made by another process must still be
// seen by the very next read, whichever call reads it.
TEST_F(RegistryTest, ChangesByAnotherProcessAreSeenByTheNextRead) {
    const std::wstring inv = L"SOFTWARE\\Vantor\\Inventory\\15";
    const std::string kvaKey = "'HKLM\\SOFTWARE\\Vantor\\Inventory\\15'";
    PutString(inv, 0, L"Version", L"1.0");
    PutString(L"SOFTWARE\\Vantor\\ThisBoot", kRegOptionVolatile, L"x", L"1");
    HKEY key = 0;
    ASSERT_EQ(RegOpenKey(kHKeyLocalMachine, inv, kKeyRead, &key), kErrorSuccess);
    std::wstring s, at;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(RegGetString(key, L"Version", &s), kErrorSuccess);
        ASSERT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &at), kErrorSuccess);
    }
    ASSERT_EQ(GetOverride("battery"), std::nullopt);

    ASSERT_EQ(kvatest::RunKva(State(), "machine reg set " + kvaKey + " Version 2.0"), 0);
    ASSERT_EQ(kvatest::RunKva(State(), "machine set battery 20"), 0);
    EXPECT_EQ(RegGetString(key, L"Version", &s), kErrorSuccess);
    EXPECT_EQ(s, L"2.0");
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &at), kErrorSuccess);
    EXPECT_EQ(at, L"2.0");
    EXPECT_EQ(GetOverride("battery"), "20");

    ASSERT_EQ(kvatest::RunKva(State(), "machine reg delete " + kvaKey + " Version"), 0);
    EXPECT_EQ(RegGetString(key, L"Version", &s), kErrorFileNotFound);
    EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &at), kErrorFileNotFound);

    ASSERT_EQ(kvatest::RunKva(State(), "machine reg delete " + kvaKey), 0);
    EXPECT_NE(RegGetString(key, L"Version", &s), kErrorSuccess);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKey(kHKeyLocalMachine, inv, kKeyRead, &key), kErrorFileNotFound);

    // A reboot by another process ends this boot's keys here too.
    const std::string boot = BootId();
    ASSERT_EQ(RegOpenKey(kHKeyLocalMachine, L"SOFTWARE\\Vantor\\ThisBoot", kKeyRead, &key), kErrorSuccess);
    RegCloseKey(key);
    ASSERT_EQ(kvatest::RunKva(State(), "machine reboot"), 0);
    EXPECT_NE(BootId(), boot);
    EXPECT_EQ(RegOpenKey(kHKeyLocalMachine, L"SOFTWARE\\Vantor\\ThisBoot", kKeyRead, &key), kErrorFileNotFound);
}

// A writer killed after its commit but before its write ended leaves the machine's change counter
// odd: until a later write completes, nothing read meanwhile is taken for current without asking.
TEST_F(RegistryTest, AWriterKilledInTheMiddleLeavesNoStaleRead) {
    const std::wstring inv = L"SOFTWARE\\Vantor\\Inventory\\15";
    PutString(inv, 0, L"Version", L"1.0");
    std::wstring s;
    for (int i = 0; i < 2; ++i) ASSERT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &s), kErrorSuccess);

    // The writer begins (the counter odd), this process reads, the writer commits and dies.
    {
        std::fstream counter(State() / "machine.db-changes", std::ios::in | std::ios::out | std::ios::binary);
        std::uint64_t n = 0;
        ASSERT_TRUE(counter.read(reinterpret_cast<char*>(&n), sizeof n));
        ASSERT_EQ(n % 2, 0u);
        ++n;
        counter.seekp(0);
        ASSERT_TRUE(counter.write(reinterpret_cast<const char*>(&n), sizeof n));
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &s), kErrorSuccess);
        EXPECT_EQ(s, L"1.0");
    }
    std::string out;
    ASSERT_EQ(kvatest::RunCommand("sqlite3 '" + (State() / "machine.db").string() +
                                      "' \"UPDATE reg_values SET text='3.0' WHERE lname='version'\"",
                                  &out),
              0)
        << out;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &s), kErrorSuccess);
        EXPECT_EQ(s, L"3.0");
    }

    // The next write ends the odd stretch; what is kept from then on is current.
    PutString(inv, 0, L"Name", L"Wireless");
    PutString(inv, 0, L"Version", L"4.0");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RegGetStringAt(kHKeyLocalMachine, inv, L"Version", &s), kErrorSuccess);
        EXPECT_EQ(s, L"4.0");
    }
}

}  // namespace
