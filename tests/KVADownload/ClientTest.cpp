// The download library against each kind of update service: a file:// folder, the library's own
// server, `kva serve` as a process and nginx (so the client is not tuned to our server).
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "TextFile.h"
#include "UpdateServiceFixture.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace {

namespace fs = std::filesystem;
using kvatest::Backend;

std::string RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

using kvatest::ReadAll;

void WriteAll(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

class ClientTest : public kvatest::CUpdateServiceTest, public ::testing::WithParamInterface<Backend> {
protected:
    void SetUp() override {
        CUpdateServiceTest::SetUp();
        if (!HasFatalFailure()) {
            ASSERT_TRUE(Serve(GetParam()));
        }
    }

    std::int64_t Expiry() const { return plat::CClock::Get().WallMs() / 1000 + 86400; }

    // The catalogue of most tests: drivers "15" (a zip), "16" (1 MiB, not an archive), firmware "45",
    // the application and the diagnose tool.
    void MakeCatalogue() {
        CCatalogueMaker maker(Folder(), PrivateKey());
        maker.AddPackage("driver", "15", "Wireless LAN Driver", "2.0", 2);
        maker.AddPackage("driver", "14", "Audio Driver", "1.0", 5);
        maker.AddPackage("driver", "13", "Camera Driver", "3.0", 5);
        maker.AddRawPackage("driver", "16", "Touchpad Driver", "1.0.5", 5, "16_1.0.5.bin", RandomBytes(1 << 20, 16));
        maker.AddPackage("firmware", "45", "PD Firmware", "1.0", 5);
        maker.AddPackage("application", "0", "Pilotdeck", "5.1", 5);
        maker.AddPackage("diagnose", "101", "Diagnose Analysis", "2.0.1", 1);
        ASSERT_TRUE(maker.Write("default", 3, Expiry()));
    }

    _TOBEUPDATE_DRIVER_INFO Offered(const std::string& id) {
        std::vector<_TOBEUPDATE_DRIVER_INFO> list;
        std::vector<_IGNORED_DRIVER_INFO> ignored;
        EXPECT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
        for (const auto& p : list)
            if (p.strDriverID == id) return p;
        ADD_FAILURE() << "package " << id << " not offered";
        return {};
    }

    fs::path Served(const _TOBEUPDATE_DRIVER_INFO& p) { return Folder() / p.versionInfo.strUrl; }
    static fs::path Target(const download_param& r) { return plat::ToHostPath(r.strFilepath); }
};

TEST_P(ClientTest, OffersOnlyVersionsNewerThanInstalled) {
    MakeCatalogue();
    SetInstalledVersion("15", "1.9.9", "Wireless LAN Driver");  // older: offered
    SetInstalledVersion("14", "1.0.0", "Audio Driver");         // equal ("1.0"): not offered
    SetInstalledVersion("13", "3.0.1", "Camera Driver");        // newer: not offered
    SetInstalledVersion("16", "1.0.4", "Touchpad Driver");      // older: offered; "45" absent: offered
    std::vector<_TOBEUPDATE_DRIVER_INFO> list;
    std::vector<_IGNORED_DRIVER_INFO> ignored;
    ASSERT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
    std::vector<std::string> ids;
    for (const auto& p : list) ids.push_back(p.strDriverID + "@" + p.strCurVersion + ">" + p.versionInfo.strNextVersion);
    EXPECT_EQ(ids, (std::vector<std::string>{"15@1.9.9>2.0", "16@1.0.4>1.0.5", "45@>1.0"}));
    EXPECT_TRUE(ignored.empty());

    _TOBEUPDATE_DRIVER_INFO app;
    SetInstalledVersion("0", "5.0.9", "Pilotdeck");
    ASSERT_EQ(GetLanternaNewVersion("zh-CN", 2, app, 1), KVADL_OK);
    EXPECT_EQ(app.strDriverID, "0");
    EXPECT_EQ(app.versionInfo.strNextVersion, "5.1");
    EXPECT_EQ(app.strAux1, "Pilotdeck 5.1 (zh)");
    SetInstalledVersion("0", "5.1.0", "Pilotdeck");
    EXPECT_EQ(GetLanternaNewVersionEx("en-US", app, 1), KVADL_NO_NEWER);

    EXPECT_TRUE(GetDiagnoseAnalysisNewVersion());
    _TOBEUPDATE_DRIVER_INFO tool;
    ASSERT_NE(CDetectedFolderMgr("101", 1).ReadDrvInfo("fr-FR", tool), 0);
    EXPECT_EQ(tool.versionInfo.strNextVersion, "2.0.1");
    EXPECT_EQ(tool.strAux1, "Diagnose Analysis 2.0.1");  // no French: English
    SetInstalledVersion("101", "2.0.1", "Diagnose Analysis");
    EXPECT_FALSE(GetDiagnoseAnalysisNewVersion());
}

TEST_P(ClientTest, DownloadIsVerifiedUnpackedAndFoundAgainWithoutDownloading) {
    MakeCatalogue();
    const auto pkg = Offered("15");
    const download_param req = RequestFor(pkg, 2);
    EXPECT_EQ(CDriverDownloadManager::GetInstance()->GetInstallFilePath(req), "");
    const auto r = Download(req);
    ASSERT_TRUE(r.finished && r.success) << "error " << r.errorCode;
    EXPECT_EQ(r.lastPercent, 100);
    const fs::path installer = plat::ToHostPath(r.installPath);
    EXPECT_EQ(installer.filename(), "setup.exe");
    const auto script = nlohmann::json::parse(ReadAll(installer), nullptr, false);
    EXPECT_EQ(script.value("id", ""), "15");
    EXPECT_EQ(script.value("version", ""), "2.0");
    EXPECT_EQ(Sha256Hex(ReadAll(Target(req))), pkg.hashInfo.strHash);

    EXPECT_EQ(CDriverDownloadManager::GetInstance()->GetInstallFilePath(req), r.installPath);
    download_param other = req;
    other.strHash = std::string(64, '0');  // a different package version under the same name
    EXPECT_EQ(CDriverDownloadManager::GetInstance()->GetInstallFilePath(other), "");
}

TEST_P(ClientTest, HalfDownloadedPackageIsResumedNotRestarted) {
    MakeCatalogue();
    const auto pkg = Offered("16");
    const std::string whole = ReadAll(Served(pkg));
    const std::size_t half = whole.size() / 2;
    const download_param req = RequestFor(pkg, 5);
    WriteAll(Target(req).string() + ".part", whole.substr(0, half));
    // The server's first half differs: only a client that asks for the rest ends with the right hash.
    WriteAll(Served(pkg), std::string(half, 'x') + whole.substr(half));
    const auto r = Download(req);
    ASSERT_TRUE(r.finished && r.success) << "error " << r.errorCode;
    EXPECT_EQ(ReadAll(plat::ToHostPath(r.installPath)), whole);  // not an archive: its own installer
}

TEST_P(ClientTest, BadPackageBodiesFailWithTheirReasonAndLeaveNothing) {
    MakeCatalogue();
    const auto pkg = Offered("16");
    const std::string whole = ReadAll(Served(pkg));
    const download_param req = RequestFor(pkg, 5);
    struct Case {
        const char* what;
        std::string served;
        int error;
    };
    std::string flipped = whole;
    flipped[whole.size() / 3] ^= 1;
    const Case cases[] = {
        {"corrupt", flipped, DOWNLOAD_ERROR_HASH},
        {"endless", whole + RandomBytes(1 << 20, 7), DOWNLOAD_ERROR_OVERSIZE},
        {"truncated", whole.substr(0, whole.size() - 1000), DOWNLOAD_ERROR_TRUNCATED},
    };
    auto& clock = plat::CClock::Get();
    auto* mgr = CDriverDownloadManager::GetInstance();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(Served(pkg), c.served);
        kvatest::CDownloadWatch watch;
        ASSERT_TRUE(watch.Start(req));
        // A truncated body is retried with back-off on the service clock: step it.
        while (!watch.WaitEnd(std::chrono::seconds(0)))
            if (clock.WaitForSleepers(1, std::chrono::milliseconds(50))) clock.Advance(std::chrono::seconds(30));
        ASSERT_TRUE(mgr->WaitAllIdle(std::chrono::seconds(30)));
        const auto r = watch.Result();
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.errorCode, c.error);
        EXPECT_FALSE(fs::exists(Target(req)));
        if (c.error != DOWNLOAD_ERROR_TRUNCATED) {
            EXPECT_FALSE(fs::exists(Target(req).string() + ".part"));
        }
        EXPECT_EQ(mgr->GetInstallFilePath(req), "");
        fs::remove(Target(req).string() + ".part");
    }
}

TEST_P(ClientTest, FullDiskEndsInTheErrorCallback) {
    MakeCatalogue();
    const auto pkg = Offered("16");
    ASSERT_TRUE(plat::SetOverride("disk-free", "4096"));
    const auto r = Download(RequestFor(pkg, 5));
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.errorCode, DOWNLOAD_ERROR_DISK_FULL);
}

TEST_P(ClientTest, CancelStopsARunningDownload) {
    if (GetParam() == Backend::File) GTEST_SKIP() << "a local file is read before a cancel could land";
    CCatalogueMaker maker(Folder(), PrivateKey());
    // nginx sends slow/ at 64 KiB/s; our servers stall halfway.
    maker.AddRawPackage("driver", "17", "Big Driver", "1.0", 5, "slow/17_1.0.bin", RandomBytes(8 << 20, 17));
    ASSERT_TRUE(maker.Write("default", 1, Expiry()));
    if (GetParam() == Backend::Server || GetParam() == Backend::KvaServe) SetFault("stall");
    const auto req = RequestFor(Offered("17"), 5);
    auto* mgr = CDriverDownloadManager::GetInstance();
    kvatest::CDownloadWatch watch;
    ASSERT_TRUE(watch.Start(req));
    ASSERT_TRUE(watch.WaitProgress(1));
    EXPECT_TRUE(mgr->IsDownloading("17"));
    EXPECT_TRUE(mgr->CancelDownload("17", 1));
    ASSERT_TRUE(watch.WaitEnd());
    ASSERT_TRUE(mgr->WaitAllIdle(std::chrono::seconds(30)));
    EXPECT_TRUE(watch.Result().cancelled);
    EXPECT_FALSE(fs::exists(Target(req)));
    EXPECT_FALSE(fs::exists(Target(req).string() + ".part"));
    EXPECT_FALSE(mgr->CancelDownload("17", 1)) << "nothing left to cancel";
}

INSTANTIATE_TEST_SUITE_P(Services, ClientTest,
                         ::testing::Values(Backend::File, Backend::Server, Backend::KvaServe, Backend::Nginx),
                         [](const auto& info) { return kvatest::BackendName(info.param); });

}  // namespace
