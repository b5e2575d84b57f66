// Download flows and their callbacks: table states as downloads start, finish, fail and are
// cancelled, the UI's download requests and the application's silent download.
#include <nlohmann/json.hpp>

#include "DriverFixture.h"
#include "DuiLib/UIMainQueue.h"
#include "KVADownload/DriverDownloadManager.h"
#include "ServeKit/UpdateServer.h"
#include "KVADownload/UpdateService.h"
#include "Util/DE.h"
#include "driver_update/DownloadRequest.h"
#include "ipc/IPCServer.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Paths.h"

namespace {

using kvatest::Eventually;

class DownloadFlowsTest : public kvatest::CDriverTest {
protected:
    void Catalogue() {
        WriteCatalogue([](CCatalogueMaker& m) {
            m.AddPackage("driver", "15", "Wireless LAN Driver", "22.2", 2);
            m.AddPackage("driver", "14", "Onboard Audio Driver", "6.0", 5);
            m.AddPackage("driver", "16", "Bluetooth Driver", "3.1", 5)["hashInfo"]["strHash"] = std::string(64, '0');
            m.AddPackage("driver", "18", "Touchpad Driver", "2.2", 2)["hashInfo"]["strHash"] = std::string(64, 'f');
            m.AddRawPackage("driver", "17", "Camera Driver", "9.9", 2, "camera.bin", std::string(256 * 1024, 'c'));
            m.AddPackage("application", "0", "Pilotdeck", "5.1.0.12", 5);
        });
    }
    // Our update server, sending half of each package and then nothing, made the machine's service.
    std::unique_ptr<CUpdateServer> StallingService(const std::vector<std::string>& idleNames) {
        auto server = std::make_unique<CUpdateServer>();
        ServeFault stall;
        std::string error;
        EXPECT_TRUE(stall.Parse("stall") && server->Start(ServiceFolder(), 0, stall, &error)) << error;
        Configure(idleNames, "", server->Url());
        return server;
    }
    // A download request of the UI for `record`, as its JSON body with the terminating zero.
    static std::string RequestBody(const _TOBEUPDATE_DRIVER_INFO& record, int type) {
        return driver_update::MakeDownloadParam(record, type, record.strDriverID).ToJson() + std::string(1, '\0');
    }
    nlohmann::json Reply(int syncId, tagIPC_MESSAGE_ITEM* item = nullptr) {
        tagIPC_MESSAGE_ITEM copy;
        std::string payload;
        EXPECT_TRUE(m_appManager->WaitFor(0xF0009, &copy, &payload));
        EXPECT_EQ(copy.nSyncMessageId, syncId);
        EXPECT_EQ(copy.nSenderID, 0x50000);
        EXPECT_EQ(copy.nReplyMessageID, -1);
        EXPECT_EQ(static_cast<std::size_t>(copy.nMessageLen), std::strlen(payload.c_str()) + 1)
            << "the length counts the terminating zero";
        if (item) *item = copy;
        return nlohmann::json::parse(payload.c_str(), nullptr, false);
    }
};

TEST_F(DownloadFlowsTest, ForcedDownloadFinishesAndAnInstallerOnDiskSkipsTheDownload) {
    Catalogue();
    auto q = StartService();
    const auto record = Offered("15");
    q->ForceDownLoad(record);
    EXPECT_TRUE(q->ForceTable().at("15").downloadedThisRun);
    ASSERT_TRUE(WaitDownloads());
    auto entry = q->ForceTable().at("15");
    EXPECT_EQ(entry.state, PACKAGE_DOWNLOADED);
    EXPECT_NE(entry.strInstallFile.find("setup.exe"), std::string::npos) << entry.strInstallFile;
    const std::string installer = entry.strInstallFile;

    q->SetTableEntry(DRIVER_UPDATE_FORCE, "15", {});
    q->ForceDownLoad(record);  // returns with the entry final: nothing runs in the background
    entry = q->ForceTable().at("15");
    EXPECT_EQ(entry.state, PACKAGE_DOWNLOADED);
    EXPECT_FALSE(entry.downloadedThisRun);
    EXPECT_EQ(entry.strInstallFile, installer);
    EXPECT_FALSE(CDriverDownloadManager::GetInstance()->IsDownloading("15"));
}

TEST_F(DownloadFlowsTest, FailedDownloadsEndInStateFourInTheirOwnTable) {
    Catalogue();
    auto q = StartService();
    q->IdleDownLoad(Offered("16"));
    ASSERT_TRUE(WaitDownloads());
    EXPECT_EQ(q->IdleTable().at("16").state, PACKAGE_DOWNLOAD_FAILED) << "hash mismatch";
    EXPECT_EQ(q->IdleTable().at("16").strInstallFile, "");
    EXPECT_EQ(q->ForceTable().count("16"), 0u);

    q->ForceDownLoad(Offered("18"));
    ASSERT_TRUE(WaitDownloads());
    EXPECT_EQ(q->ForceTable().at("18").state, PACKAGE_DOWNLOAD_FAILED);
    EXPECT_EQ(q->IdleTable().count("18"), 0u);
}

TEST_F(DownloadFlowsTest, UiRequestsAreAnsweredWithThePathAndTheResult) {
    Catalogue();
    auto q = StartService();
    const auto audio = Offered("14");
    ASSERT_TRUE(m_appManager->Send(0xF0009, RequestBody(audio, 1), 41));
    auto reply = Reply(41);
    EXPECT_EQ(reply, (nlohmann::json{{"strpath", ""}, {"result", true}})) << reply.dump();
    ASSERT_TRUE(WaitDownloads());
    EXPECT_TRUE(q->IdleTable().empty() && q->ForceTable().empty()) << "a plain request keeps no table entry";

    // Downloaded already: the path comes back and nothing starts.
    ASSERT_TRUE(m_appManager->Send(0xF0009, RequestBody(audio, 1), 42));
    reply = Reply(42);
    EXPECT_EQ(reply["result"], true);
    EXPECT_NE(reply["strpath"].get<std::string>().find("setup.exe"), std::string::npos) << reply.dump();
    EXPECT_FALSE(CDriverDownloadManager::GetInstance()->IsDownloading("14"));

    // A forced request of something downloaded lands in the forced table, ready to install.
    const auto wlan = Offered("15");
    ASSERT_TRUE(m_appManager->Send(0xF0009, RequestBody(wlan, 2), 43));
    EXPECT_EQ(Reply(43)["result"], true);
    ASSERT_TRUE(WaitDownloads());
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_DOWNLOADED) << "the forced callbacks were bound";
    EXPECT_EQ(q->ForceTable().at("15").strNextVersion, "22.2");
}

TEST_F(DownloadFlowsTest, ForcedUiRequestWhileForcedUpdatesAreOffIsRefusedAndEmptiesTheTable) {
    Catalogue();
    auto q = StartService();
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "23", {});
    DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), L"forceupdate", plat::DWORD{0});
    ASSERT_TRUE(m_appManager->Send(0xF000A, RequestBody(Offered("15"), 2), 7));
    std::string payload;
    tagIPC_MESSAGE_ITEM item;
    ASSERT_TRUE(m_appManager->WaitFor(0xF000A, &item, &payload));
    EXPECT_EQ(nlohmann::json::parse(payload.c_str()), (nlohmann::json{{"strpath", ""}, {"result", false}}));
    EXPECT_EQ(item.nSyncMessageId, 7);
    EXPECT_TRUE(q->ForceTable().empty());
    EXPECT_FALSE(CDriverDownloadManager::GetInstance()->IsDownloading("15"));
    ASSERT_EQ(Events(6011).size(), 1u);
    EXPECT_EQ(Events(6011)[0].values, (std::vector<std::string>{"6011", "1", "0"}));
}

TEST_F(DownloadFlowsTest, CancelRequestsGoThroughTheUiQueueAndLeaveStateTwo) {
    Catalogue();
    const auto server = StallingService({"Onboard Audio Driver"});
    WriteCatalogue([](CCatalogueMaker& m) {
        m.AddRawPackage("driver", "17", "Camera Driver", "9.9", 2, "camera.bin", std::string(256 * 1024, 'c'));
        m.AddPackage("driver", "14", "Onboard Audio Driver", "6.0", 5);
    });
    auto q = StartService();
    q->ForceDownLoad(Offered("17"));
    ASSERT_TRUE(CDriverDownloadManager::GetInstance()->IsDownloading("17"));

    // Hold the UI thread: the cancel must wait for it.
    plat::CEvent release;
    auto* ui = DuiLib::UIMainQueue::getInstance();
    ui->dispatch([&release] { plat::CClock::Get().Wait({&release}, plat::CClock::kInfinite); });
    strDRIVER_DOWNLOAD_CB_PARAM cancel;
    cancel.strDriverID = "17";
    ASSERT_TRUE(m_appManager->Send(0xF000B, SerializeTypedRequest(cancel)));
    // Handlers run in arrival order: once this request is answered, the cancel was handled. (An
    // empty request names no package: it is refused at once and starts nothing.)
    ASSERT_TRUE(m_appManager->Send(0xF0009, std::string("{}", 3), 9));
    EXPECT_EQ(Reply(9), (nlohmann::json{{"strpath", ""}, {"result", false}}));
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->IsDownloading("17")) << "not cancelled before the UI ran";
    EXPECT_EQ(q->ForceTable().at("17").state, PACKAGE_DOWNLOADING);

    release.Set();
    ASSERT_TRUE(Eventually([&] { return q->ForceTable().at("17").state == PACKAGE_DOWNLOAD_CANCELLED; }));
    EXPECT_TRUE(WaitDownloads());
}

TEST_F(DownloadFlowsTest, OneApplicationDownloadAtATimeAndContinueOnlyForANewerVersion) {
    Catalogue();
    auto q = StartService();
    _TOBEUPDATE_DRIVER_INFO app;
    ASSERT_EQ(GetLanternaNewVersion("en-US", 2, app, 1), 0);
    SetInstalledVersion("0", "5.1.0.12", "Pilotdeck");
    q->SetAppUpdateInfo(app);
    q->ContinueDownLoad();
    EXPECT_FALSE(CDriverDownloadManager::GetInstance()->IsDownloading("0")) << "equal versions: nothing to do";
    const std::string target = driver_update::DownloadTargetFile("0", "5.1.0.12");
    EXPECT_FALSE(std::filesystem::exists(plat::ToHostPath(target)));

    SetInstalledVersion("0", "5.0.0.1", "Pilotdeck");
    q->ContinueDownLoad();
    ASSERT_TRUE(WaitDownloads());
    EXPECT_TRUE(std::filesystem::exists(plat::ToHostPath(target))) << "downloaded for the silent install";

    // A cancelled download frees the way for the next one.
    std::filesystem::remove_all(plat::ToHostPath(target).parent_path());
    const auto server = StallingService({});
    Catalogue();
    q->SilentDownload(app, DRIVER_UPDATE_IDLE);
    ASSERT_TRUE(CDriverDownloadManager::GetInstance()->IsDownloading("0"));
    CDriverDownloadManager::GetInstance()->CancelDownload("0", 1);
    ASSERT_TRUE(WaitDownloads());
    EXPECT_FALSE(std::filesystem::exists(plat::ToHostPath(target)));
    q->SilentDownload(app, DRIVER_UPDATE_IDLE);
    EXPECT_TRUE(CDriverDownloadManager::GetInstance()->IsDownloading("0")) << "the cancel callback cleared the guard";
    CDriverDownloadManager::GetInstance()->CancelDownload("0", 1);
    ASSERT_TRUE(WaitDownloads());
}

}  // namespace
