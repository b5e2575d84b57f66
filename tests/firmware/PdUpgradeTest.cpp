// The PD firmware upgrade against the simulated EC device and ACPI-WMI firmware, on the fake clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>

#include "TestMachine.h"
#include "Util/DE.h"
#include "firmware/EventSink.h"
#include "firmware/biosPDUpgrade.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/SimDevices.h"

namespace {

using namespace std::chrono_literals;
using plat::CClock;

class PdUpgradeTest : public kvatest::CTestMachine {
protected:
    void TearDown() override {
        EXPECT_EQ(CEventSink::LiveCount(), 0u) << "a sink was not released";
        kvatest::CTestMachine::TearDown();
    }

    // Writes an image of `size` bytes and returns its Windows path.
    std::string Image(std::size_t size) {
        const std::string path = "C:\\ProgramData\\pd\\image-" + std::to_string(size) + ".bin";
        const auto host = plat::ToHostPath(path);
        std::filesystem::create_directories(host.parent_path());
        std::ofstream out(host, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7));
        return path;
    }

    std::future<int> Start(const std::string& path, const plat::CEvent* stop = nullptr) {
        return std::async(std::launch::async, [path, stop] { return UpgradePD(stop).upgradePDVersion(path); });
    }

    static bool Done(std::future<int>& f) { return f.wait_for(0s) == std::future_status::ready; }
    // Runs the upgrade's 120 s wait for the firmware's word out on the clock: no result before its end.
    static int AfterTheFullWait(std::future<int>& result) {
        EXPECT_TRUE(CClock::Get().WaitForSleepers(1));
        EXPECT_EQ(CClock::Get().NextDeadlineIn(), 120000);
        CClock::Get().Advance(119999ms);
        EXPECT_FALSE(Done(result));
        CClock::Get().Advance(1ms);
        return result.get();
    }

    static std::vector<std::string> Calls() {
        std::vector<std::string> out;
        for (const auto& c : plat::ListDeviceCalls()) out.push_back(c.call);
        return out;
    }
    static bool Called(const std::string& call) {
        auto calls = Calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
};

TEST_F(PdUpgradeTest, ImagesThatNeverReachTheFlash) {
    // Missing: nothing is opened.
    EXPECT_EQ(UpgradePD().upgradePDVersion("C:\\ProgramData\\pd\\absent.bin"), -1);
    EXPECT_TRUE(plat::ListDeviceCalls().empty());

    // Empty: handed to the driver first, then refused by the size check.
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(0)), -1);
    ASSERT_EQ(plat::ListEcImages().size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(plat::ListEcImages()[0]), 0u);
    EXPECT_FALSE(Called("method"));

    // One byte past 128 KiB.
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(131073)), -1);
    EXPECT_EQ(plat::ListEcImages().size(), 2u);
    EXPECT_FALSE(Called("method"));
}

TEST_F(PdUpgradeTest, LargestImageReachesTheMethodByteForByte) {
    plat::SetOverride("pd", "reply=1");
    const std::string path = Image(131072);
    EXPECT_EQ(UpgradePD().upgradePDVersion(path), 2);
    ASSERT_EQ(plat::ListEcImages().size(), 1u);
    std::ifstream sent(plat::ListEcImages()[0], std::ios::binary), original(plat::ToHostPath(path), std::ios::binary);
    EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(sent), {}, std::istreambuf_iterator<char>(original), {}));
    const auto calls = plat::ListDeviceCalls();
    auto method = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.call == "method"; });
    ASSERT_NE(method, calls.end());
    EXPECT_EQ(method->detail, "u64Input=3334");
    EXPECT_EQ(Calls().back(), "method") << "the device is closed before the flash starts";
}

TEST_F(PdUpgradeTest, DriverFailuresRestoreTheServicePath) {
    plat::SetOverride("pd", "open=fail");
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(4096)), -1);
    auto calls = plat::ListDeviceCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].call, "open-failed");
    EXPECT_EQ(calls[0].detail, "service-path=0");
    plat::DWORD registered = 0;
    ASSERT_TRUE(DE::Registry::GetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Pilotdeck", L"KVAServicePath",
                                       registered));
    EXPECT_EQ(registered, 1u);

    plat::ClearDeviceCalls();
    plat::SetOverride("pd", "ioctl=fail");
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(4096)), -1);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"open", "ioctl", "close"}));
}

TEST_F(PdUpgradeTest, MethodAnswersWithoutWaiting) {
    plat::SetOverride("pd", "reply=7");
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(2048)), 2);
    plat::SetOverride("pd", "method=fail");
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(2048)), 3);

    // Without "u64Input" the command goes as the byte block.
    plat::ClearDeviceCalls();
    plat::SetOverride("pd", "input=u8 reply=1");
    EXPECT_EQ(UpgradePD().upgradePDVersion(Image(2048)), 2);
    const auto calls = plat::ListDeviceCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().detail.substr(0, 32), "u8Input=06 0d 00 00 00 00 00 00 ");
    EXPECT_EQ(calls.back().detail.size(), std::string("u8Input=").size() + 64 * 3 - 1);
}

TEST_F(PdUpgradeTest, SuccessEventEndsTheWaitWhenItComes) {
    plat::SetOverride("pd", "event=676 delay=5000");
    const auto start = CClock::Get().TickCount64();
    auto result = Start(Image(65536));
    ASSERT_TRUE(CClock::Get().WaitForSleepers(2));  // the upgrade and the firmware's delay
    CClock::Get().Advance(4999ms);
    EXPECT_FALSE(Done(result));
    CClock::Get().Advance(1ms);
    EXPECT_EQ(result.get(), 0);
    EXPECT_EQ(CClock::Get().TickCount64() - start, 5000u);
}

TEST_F(PdUpgradeTest, FailureEventOrSilenceGivesOne) {
    plat::SetOverride("pd", "event=677 delay=10");
    auto failed = Start(Image(1024));
    ASSERT_TRUE(CClock::Get().WaitForSleepers(2));
    CClock::Get().Advance(10ms);
    EXPECT_EQ(failed.get(), 1);

    plat::SetOverride("pd", "event=none");
    auto silent = Start(Image(1024));
    ASSERT_TRUE(CClock::Get().WaitForSleepers(1));
    UpgradePD::GetWmiEventIDCallback(675);  // not an outcome
    EXPECT_EQ(AfterTheFullWait(silent), 1);
}

TEST_F(PdUpgradeTest, EarlySuccessCountsOnlyAfterTheFullWaitAndAStrayEventLaterIsIgnored) {
    plat::SetOverride("pd", "early");
    auto first = Start(Image(1024));
    EXPECT_EQ(AfterTheFullWait(first), 0);

    UpgradePD::GetWmiEventIDCallback(676);  // nobody is upgrading
    plat::SetOverride("pd", "event=none");
    auto second = Start(Image(1024));
    EXPECT_EQ(AfterTheFullWait(second), 1);
}

TEST_F(PdUpgradeTest, StoppingEndsTheWaitAtOnce) {
    plat::SetOverride("pd", "event=676 delay=60000");
    plat::CEvent stop;
    auto result = Start(Image(1024), &stop);
    ASSERT_TRUE(CClock::Get().WaitForSleepers(2));
    stop.Set();
    EXPECT_EQ(result.get(), 1);
    EXPECT_EQ(CClock::Get().Sleepers(), 0u) << "the firmware's pending event was cancelled";
}

TEST(PdScriptTest, UnknownTokensAreRefused) {
    EXPECT_FALSE(plat::ParsePdScript("reply=256").has_value());
    EXPECT_FALSE(plat::ParsePdScript("event=678").has_value());
    EXPECT_FALSE(plat::ParsePdScript("delay=-1").has_value());
    auto s = plat::ParsePdScript(" early  event=none input=u8 ");
    ASSERT_TRUE(s.has_value());
    EXPECT_TRUE(s->early && s->u8InputOnly && !s->eventId);
}

// The sink alone: what reaches the callback, and its count.
std::vector<std::uint32_t> g_seen;
void Record(std::uint32_t id) { g_seen.push_back(id); }

TEST(EventSinkTest, PassesOnlyOemEventIdsAndDeletesItselfAtZero) {
    g_seen.clear();
    auto* sink = new CEventSink(&Record);
    EXPECT_EQ(sink->AddRef(), 1u);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink->QueryInterface(plat::Iid(99), &other), plat::kENoInterface);
    EXPECT_EQ(other, nullptr);
    void* same = nullptr;
    ASSERT_EQ(sink->QueryInterface(plat::Iid::WbemObjectSink, &same), plat::kSOk);
    EXPECT_EQ(same, static_cast<plat::IWbemObjectSink*>(sink));

    const plat::WmiRow rows[] = {{{"__Class", "OemWMIEvent"}, {"Force", "676"}},
                                 {{"__Class", "OtherEvent"}, {"Force", "677"}},
                                 {{"__Class", "OemWMIEvent"}, {"Force", "67x"}},
                                 {{"__Class", "OemWMIEvent"}},
                                 {{"__Class", "OemWMIEvent"}, {"Force", "677"}}};
    EXPECT_EQ(sink->Indicate(5, rows), plat::kSOk);
    EXPECT_EQ(g_seen, (std::vector<std::uint32_t>{676, 677}));

    EXPECT_EQ(CEventSink::LiveCount(), 1u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u);
    EXPECT_EQ(CEventSink::LiveCount(), 0u);
}

}  // namespace
