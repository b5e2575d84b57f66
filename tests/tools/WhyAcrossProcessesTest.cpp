// `kva why` on a run of the suite's real processes: serve, suite and host on a scaled clock, with
// the battery low at first, one package whose file does not match its hash, and one that depends
// on it. Each story must name the right reason with its figures.
#include <fstream>

#include <nlohmann/json.hpp>

#include "CrossProcessFixture.h"
#include "KVADownload/UpdateService.h"
#include "Util/DriverInfoListMgr.h"
#include "kva/platform/Process.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

class WhyAcrossProcessesTest : public kvatest::CCrossProcessTest {
protected:
    // The story lines of `kva why id`, oldest first.
    std::vector<std::string> Story(const std::string& id) {
        const json doc = json::parse(Kva("why " + id + " --json"), nullptr, false);
        std::vector<std::string> lines;
        for (const auto& l : doc.value("story", json::array())) lines.push_back(l.value("text", ""));
        return lines;
    }
    // The index of the first line at or after `from` that starts with `text`, or -1.
    static int Find(const std::vector<std::string>& story, const std::string& text, int from = 0) {
        for (int i = std::max(from, 0); i < static_cast<int>(story.size()); ++i) {
            if (story[static_cast<std::size_t>(i)].rfind(text, 0) == 0) return i;
        }
        return -1;
    }
};

TEST_F(WhyAcrossProcessesTest, StoriesNameTheBatteryTheHashAndTheDependency) {
    const std::filesystem::path service = MakeService();
    {  // One byte of the audio driver changed after the catalogue was signed.
        std::fstream zip(service / "packages" / "14_6.0.9500.1.zip", std::ios::in | std::ios::out | std::ios::binary);
        zip.seekp(40);
        zip.put('\x7f');
    }
    kvatest::WriteChangedFile(CDriverInfoListMgr::FilePath(), R"(<DriverCfg>
        <Driver id="15"><Depend id="14"/></Driver></DriverCfg>)");
    Kva("machine set battery 20");

    StartRoad();

    ASSERT_TRUE(kvatest::Eventually([&] { return Logged("sys_percent = 20"); }, 60s)) << Logs();
    Kva("machine set battery 80");
    ASSERT_TRUE(kvatest::Eventually(
        // The service's own record of the install, not only the installer's: the story is told from it.
        [&] { return Count(2006) == 1 && Logged("install driver successed") && Logged("CheckDepend,") && Logged("driver id 14 failed"); },
        60s))
        << Logs();
    m_host.Stop();
    m_suite.Stop();
    m_serve.Stop();

    const auto bios = Story("23");
    const int refused = Find(bios, "install refused: battery 20 % below the 30 % the configuration asks");
    EXPECT_GE(refused, 0) << testing::PrintToString(bios);
    EXPECT_GT(Find(bios, "installed (installer exit code 0", refused), refused) << testing::PrintToString(bios);

    const auto audio = Story("14");
    const int failed = Find(audio, "download failed: hash mismatch: expected ");
    EXPECT_GE(failed, 0) << testing::PrintToString(audio);
    EXPECT_LT(Find(audio, "installed"), 0) << testing::PrintToString(audio);

    const auto wlan = Story("15");
    EXPECT_GE(Find(wlan, "waits for package 14 to install first"), 0) << testing::PrintToString(wlan);
    EXPECT_LT(Find(wlan, "installed"), 0) << testing::PrintToString(wlan);
    EXPECT_NE(GetInstalledVersion("15"), "22.200.0.6");
}

}  // namespace
