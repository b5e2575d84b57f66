#include "TestMachine.h"
#include "Util/DE.h"
#include "kva/platform/Module.h"
#include "kva/platform/Text.h"

namespace {

using GetFWVersionFn = std::string (*)(const std::string&, const std::string&, std::string&, int&);

class ModulesTest : public kvatest::CTestMachine {
protected:
    // Loaded the way the library does it: the host's folder + a Windows-style tail.
    plat::HMODULE Load(const wchar_t* tail) {
        return plat::LoadModule(plat::FromUtf8(kvatest::BinaryPath("").string()) + tail);
    }
};

TEST_F(ModulesTest, FirmwareVersionComesFromTheInventory) {
    plat::HMODULE m = Load(L"\\DriverCurVersion.dll");
    ASSERT_NE(m, nullptr);
    auto fn = reinterpret_cast<GetFWVersionFn>(plat::GetModuleExport(m, "GetFWVersion"));
    ASSERT_NE(fn, nullptr);
    std::string detail;
    int result = 7;
    EXPECT_EQ(fn("45", "PD Firmware", detail, result), "");
    EXPECT_EQ(result, 0);
    DE::Registry::SetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Inventory\\45", L"Version", std::wstring(L"2.1.7"));
    EXPECT_EQ(fn("45", "PD Firmware", detail, result), "2.1.7");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(fn("..\\45", "x", detail, result), "") << "only package ids reach the registry path";
    EXPECT_EQ(result, 0);
    plat::FreeModule(m);
}

}  // namespace
