// Package folders, the id and path checks that keep every file inside the data folder, the
// detected-folder manager and the check times.
#include <fstream>

#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "TextFile.h"
#include "UpdateServiceFixture.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Paths.h"

namespace {

namespace fs = std::filesystem;

class FoldersTest : public kvatest::CUpdateServiceTest {};

TEST_F(FoldersTest, DownloadPathsAreBuiltOnlyFromSafeIdsAndVersions) {
    EXPECT_EQ(GetDownloadPath("15", "2.0.1", 0, 1),
              "C:\\ProgramData\\Vantor\\Pilotdeck\\DriverUpgrade\\Update\\Downloaded\\15_2.0.1");
    EXPECT_EQ(GetDownloadPath("0", "5.1", 0, 0), "\\DriverUpgrade\\Update\\Downloaded\\0_5.1");
    EXPECT_TRUE(fs::is_directory(plat::ToHostPath(GetDownloadPath("15", "2.0.1", 1, 1))));
    for (const std::string bad : {"../x", "..", ".", "", "a/b", "a\\b", "C:x", "x y", "..\\..\\Windows"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(GetDownloadPath(bad, "1.0", 1, 1), "");
        EXPECT_EQ(GetDownloadPath("15", bad, 1, 1), "");
        EXPECT_TRUE(CDetectedFolderMgr(bad, 1).Folder().empty());
        _TOBEUPDATE_DRIVER_INFO info;
        EXPECT_EQ(CDetectedFolderMgr(bad, 1).ReadDrvInfo("en-US", info), 0);
        EXPECT_NE(DeleteDetectedDrv(bad, "1.0", 1), 0);
    }
    EXPECT_EQ(GetUpdateFolder(1, 0), "\\DriverUpgrade\\Update\\Detected");
    EXPECT_EQ(GetUpdateFolder(2, 1), "\\DriverUpgrade\\Downloaded");
    EXPECT_EQ(GetUpdateFolder(3, 3), "\\DriverUpgrade\\Temp\\Installed");
    EXPECT_EQ(GetUpdateFolder(4, 0), "");
}

TEST_F(FoldersTest, DownloadRequestsOutsideTheDownloadRootAreRefused) {
    ASSERT_TRUE(Serve(kvatest::Backend::File));
    auto* mgr = CDriverDownloadManager::GetInstance();
    download_param p;
    p.strDriverID = "15";
    p.strNextVersion = "2.0";
    p.strUrl = "packages/15.zip";
    const std::string root = GetAppDataFolder() + "\\DriverUpgrade\\Update\\Downloaded\\";
    for (const std::string& path : std::vector<std::string>{root + "..\\..\\evil.exe", root + "15_2.0\\..\\x", "C:\\Windows\\update.zip",
                                   root + "update.zip", root + "15_2.0\\sub\\update.zip", std::string()}) {
        SCOPED_TRACE(path);
        p.strFilepath = path;
        EXPECT_FALSE(mgr->Init(p));
        EXPECT_EQ(mgr->GetInstallFilePath(p), "");
    }
    p.strFilepath = root + "15_2.0\\update.zip";
    p.strDriverID = "../x";
    EXPECT_FALSE(mgr->Init(p));
    EXPECT_FALSE(mgr->BeginDownload("../x", 2));
    p.strDriverID = "15";
    EXPECT_TRUE(mgr->Init(p));
}

TEST_F(FoldersTest, DetectedDescriptionsAndOldVersions) {
    _TOBEUPDATE_DRIVER_INFO info;
    info.strDriverID = "23";
    info.strDriverName = "BIOS";
    info.versionInfo.strNextVersion = "1.0.12";
    info.versionInfo.FileSize = 1234;
    info.policy.restartLevel2 = true;
    info.policy.processList = {"C:\\logs\\bios"};
    info.policy.textByKey["laptop"] = {{"bios.exe", "BIOS tool"}};
    CDetectedFolderMgr folder("23", 1);
    ASSERT_TRUE(folder.WriteDrvInfo(info, R"J({"en-US": "Firmware", "de-DE": "Firmware (de)"})J", 2));
    _TOBEUPDATE_DRIVER_INFO read;
    ASSERT_NE(folder.ReadDrvInfo("de-AT", read), 0);
    EXPECT_EQ(read.strAux1, "Firmware (de)");
    EXPECT_EQ(read.versionInfo.FileSize, 1234u);
    EXPECT_TRUE(read.policy.restartLevel2);
    EXPECT_EQ(read.policy.processList, info.policy.processList);
    EXPECT_EQ(read.policy.textByKey, info.policy.textByKey);
    EXPECT_EQ(CDetectedFolderMgr("24", 1).ReadDrvInfo("en-US", read), 0) << "no description stored";

    // A request handed over by the UI is stored from the request when no catalogue knows it.
    download_param p;
    p.strDriverID = "24";
    p.strNextVersion = "9.9";
    p.FileSize = 77;
    ASSERT_TRUE(CDetectedFolderMgr("24", 1).DownloadXML(p));
    ASSERT_NE(CDetectedFolderMgr("24", 1).ReadDrvInfo("en-US", read), 0);
    EXPECT_EQ(read.versionInfo.FileSize, 77u);

    for (const char* v : {"1.0", "2.0", "3.0"}) std::ofstream(plat::ToHostPath(GetDownloadPath("0", v) + "\\update.zip"));
    GetDownloadPath("01", "1.0");  // another package whose id starts alike
    EXPECT_TRUE(CDetectedFolderMgr("0", 1).DeleteOldVersionFile("2.0"));
    EXPECT_FALSE(fs::exists(plat::ToHostPath(GetDownloadPath("0", "1.0", 0))));
    EXPECT_TRUE(fs::exists(plat::ToHostPath(GetDownloadPath("0", "2.0", 0) + "\\update.zip")));
    EXPECT_FALSE(fs::exists(plat::ToHostPath(GetDownloadPath("0", "3.0", 0))));
    EXPECT_TRUE(fs::exists(plat::ToHostPath(GetDownloadPath("01", "1.0", 0))));
}

// A check offers mostly what it offered before: an unchanged description keeps its file and time,
// while a change, an edit by someone else or a deleted file is written again.
TEST_F(FoldersTest, DescriptionsAreRewrittenOnlyWhenTheyDiffer) {
    auto& clock = plat::CClock::Get();
    _TOBEUPDATE_DRIVER_INFO info;
    info.strDriverID = "31";
    info.versionInfo.strNextVersion = "1.0";
    CDetectedFolderMgr folder("31", 0);
    const fs::path file = plat::ToHostPath(folder.Folder() + "\\DriverInfo.xml");
    auto text = [&] { return kvatest::ReadAll(file); };
    ASSERT_TRUE(folder.WriteDrvInfo(info, R"({"en-US":"a"})", 2)) << "the folder is made by the write";
    const std::string first = text();
    ASSERT_NE(first.find("savedAt="), std::string::npos);

    clock.Advance(std::chrono::seconds(90));
    ASSERT_TRUE(folder.WriteDrvInfo(info, R"({"en-US":"a"})", 2));
    EXPECT_EQ(text(), first) << "same description, same file";

    for (int change = 0; change < 3; ++change) {
        SCOPED_TRACE(change);
        clock.Advance(std::chrono::seconds(90));
        const std::string before = text();
        if (change == 2) info.strCurVersion = "0.9";
        ASSERT_TRUE(folder.WriteDrvInfo(info, R"({"en-US":"b"})", change == 0 ? 2 : 5));
        EXPECT_NE(text(), before);
    }

    // Someone else empties the file, then deletes the folder: the next identical write restores it.
    std::ofstream(file, std::ios::trunc).flush();
    ASSERT_TRUE(folder.WriteDrvInfo(info, R"({"en-US":"b"})", 5));
    _TOBEUPDATE_DRIVER_INFO read;
    EXPECT_NE(folder.ReadDrvInfo("en-US", read), 0);
    EXPECT_EQ(read.strCurVersion, "0.9");
    fs::remove_all(file.parent_path());
    ASSERT_TRUE(folder.WriteDrvInfo(info, R"({"en-US":"b"})", 5));
    EXPECT_NE(folder.ReadDrvInfo("en-US", read), 0);
    EXPECT_EQ(read.strAux1, "b");
}

TEST_F(FoldersTest, IgnoredVersionIsListedApartUntilANewerOneComes) {
    ASSERT_TRUE(Serve(kvatest::Backend::File));
    const std::int64_t expires = plat::CClock::Get().WallMs() / 1000 + 3600;
    CCatalogueMaker maker(Folder(), PrivateKey());
    maker.AddPackage("driver", "15", "Wireless LAN Driver", "2.0", 2);
    ASSERT_TRUE(maker.Write("default", 1, expires));
    std::vector<_TOBEUPDATE_DRIVER_INFO> list;
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    ASSERT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(fs::exists(plat::ToHostPath(CDetectedFolderMgr("15", 0).Folder() + "\\DriverInfo.xml")));

    EXPECT_EQ(DeleteDetectedDrv("15", "2.0", 1), 0);
    EXPECT_FALSE(fs::exists(plat::ToHostPath(CDetectedFolderMgr("15", 0).Folder())));
    list.clear();
    ASSERT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
    EXPECT_TRUE(list.empty());
    ASSERT_EQ(ignored.size(), 1u);
    EXPECT_EQ(ignored[0].strNextVersion, "2.0");
    EXPECT_EQ(ignored[0].strIgnoreTime.size(), 16u);  // "%Y-%m-%d %H:%M"

    CCatalogueMaker newer(Folder(), PrivateKey());
    newer.AddPackage("driver", "15", "Wireless LAN Driver", "2.1", 2);
    ASSERT_TRUE(newer.Write("default", 2, expires));
    ignored.clear();
    ASSERT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].versionInfo.strNextVersion, "2.1");
    EXPECT_TRUE(ignored.empty());
}

TEST_F(FoldersTest, CheckTimesFollowTheServiceClock) {
    CLastCheckTimeMgr times;
    std::int64_t t = 0;
    EXPECT_FALSE(times.GetMessageCenterLastCheckTime(t));
    const std::int64_t start = plat::CClock::Get().WallMs() / 1000;
    ASSERT_TRUE(times.UpdateMessageCenterCheckTime());
    plat::CClock::Get().Advance(std::chrono::seconds(90));
    ASSERT_TRUE(times.UpdateDriverCheckTime());
    ASSERT_TRUE(CLastCheckTimeMgr().GetMessageCenterLastCheckTime(t));
    EXPECT_EQ(t, start);
    ASSERT_TRUE(CLastCheckTimeMgr().GetDriverCheckTime(t));
    EXPECT_EQ(t, start + 90);
    EXPECT_FALSE(times.GetLanternaCheckTime(t));
}

TEST_F(FoldersTest, WaitForNetWorkAsksEveryThirtySecondsUntilTheServiceAnswers) {
    Configure("file://" + (State() / "later").string(), PublicKey());
    std::atomic<bool> answered{false};
    std::thread waiter([&] { answered = WaitForNetWork(); });
    auto& clock = plat::CClock::Get();
    ASSERT_TRUE(clock.WaitForSleepers(1));
    EXPECT_EQ(clock.NextDeadlineIn(), 30000);
    clock.Advance(std::chrono::seconds(30));
    ASSERT_TRUE(clock.WaitForSleepers(1));  // still nothing there
    fs::create_directories(State() / "later");
    clock.Advance(std::chrono::seconds(30));
    waiter.join();
    EXPECT_TRUE(answered);

    Configure("file://" + (State() / "never").string(), PublicKey());
    plat::CEvent stop;
    std::thread stopped([&] { answered = WaitForNetWork(&stop); });
    ASSERT_TRUE(clock.WaitForSleepers(1));
    stop.Set();
    stopped.join();
    EXPECT_FALSE(answered);
}

TEST_F(FoldersTest, PostDrvUpgradeClearsTheDownloadAndKeepsARecord) {
    std::ofstream(plat::ToHostPath(GetDownloadPath("15", "2.0") + "\\update.zip")) << "x";
    CDetectedFolderMgr("15", 1);
    EXPECT_EQ(PostDrvUpgrade("15", "2.0", 1), 0);
    EXPECT_FALSE(fs::exists(plat::ToHostPath(GetDownloadPath("15", "2.0", 0))));
    EXPECT_FALSE(fs::exists(plat::ToHostPath(CDetectedFolderMgr("15", 0).Folder())));
    EXPECT_TRUE(fs::exists(plat::ToHostPath(GetAppDataFolder() + "\\DriverUpgrade\\Update\\Installed\\15.xml")));
    EXPECT_NE(PostDrvUpgrade("../15", "2.0", 1), 0);
}

TEST_F(FoldersTest, OtaIdentifierIsMadeOnceAndTheSerialJsonCarriesIt) {
    const std::string id = GetQOTAID();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(GetQOTAID(), id);
    const auto sn = nlohmann::json::parse(ProduceJsonStrForSn(0), nullptr, false);
    EXPECT_EQ(sn.value("otaid", ""), id);
    EXPECT_FALSE(sn.value("model", "").empty());
}

}  // namespace
