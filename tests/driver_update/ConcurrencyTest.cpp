// Downloads finishing on the download library's threads while a check, IPC handlers and readers
// use the same tables. Meant for the thread sanitizer as much as for the final states.
#include <thread>

#include "DriverFixture.h"
#include "KVADownload/PackageJson.h"
#include "driver_update/DownloadRequest.h"

namespace {

class ConcurrencyTest : public kvatest::CDriverTest {};

TEST_F(ConcurrencyTest, DownloadsFinishWhileTheCheckAndHandlersTouchTheTables) {
    constexpr int kEach = 12;
    std::vector<std::string> idleNames;
    for (int i = 0; i < kEach; ++i) idleNames.push_back("Idle " + std::to_string(i));
    Configure(idleNames);
    std::vector<_TOBEUPDATE_DRIVER_INFO> requested;
    WriteCatalogue([&](CCatalogueMaker& m) {
        for (int i = 0; i < kEach; ++i) {
            m.AddPackage("driver", std::to_string(200 + i), "Forced " + std::to_string(i), "1." + std::to_string(i), 2);
            m.AddPackage("driver", std::to_string(300 + i), "Idle " + std::to_string(i), "2." + std::to_string(i), 5);
            _TOBEUPDATE_DRIVER_INFO asked;
            auto& offer = m.AddPackage("driver", std::to_string(400 + i), "Asked " + std::to_string(i), "3.0", 1);
            EXPECT_TRUE(PackageFromJson(offer, asked));
            requested.push_back(asked);
        }
    });
    auto q = StartService();

    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            q->CheckWLAN("15");
            q->CheckDepend("300");
            q->ForceTable();
            q->IdleTable();
            q->PopupDrivers();
        }
    });
    std::thread ui([&] {
        int sync = 1;
        for (const auto& r : requested) {
            const std::string body = driver_update::MakeDownloadParam(r, 2, r.strDriverID).ToJson();
            m_appManager->Send(0xF0009, body + std::string(1, '\0'), sync++);
        }
    });
    EXPECT_TRUE(q->CheckSoftDriverVersion());
    ui.join();
    for (std::size_t i = 0; i < requested.size(); ++i) EXPECT_TRUE(m_appManager->WaitFor(0xF0009));
    ASSERT_TRUE(WaitDownloads());
    done = true;
    reader.join();

    const auto forced = q->ForceTable();
    const auto idle = q->IdleTable();
    EXPECT_EQ(forced.size(), 2u * kEach);
    EXPECT_EQ(idle.size(), static_cast<std::size_t>(kEach));
    for (const auto* table : {&forced, &idle}) {
        for (const auto& [id, e] : *table) {
            EXPECT_EQ(e.state, PACKAGE_DOWNLOADED) << id;
            EXPECT_FALSE(e.strInstallFile.empty()) << id;
        }
    }
}

}  // namespace
