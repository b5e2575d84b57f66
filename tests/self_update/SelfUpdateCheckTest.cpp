// The application check against a catalogue that offers a newer application: which path it takes
// and what it reports on each.
#include <fstream>

#include "DriverFixture.h"
#include "KVADownload/Catalogue.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/UpdateService.h"
#include "Util/CommonCfgMgr.h"
#include "Util/FileInfo.h"
#include "common/Driver/DriverUpdateCommon.h"
#include "KVADownload/Folders.h"
#include "Util/DE.h"
#include "TextFile.h"
#include "Util/KVASoftShelf.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace {

using kvatest::Eventually;
using Values = std::vector<std::string>;

class SelfUpdateCheckTest : public kvatest::CDriverTest {
protected:
    void Offer(bool forced) {
        WriteCatalogue([forced](CCatalogueMaker& m) {
            auto& app = m.AddPackage("application", "0", "Pilotdeck", "5.1.0.12", 5);
            app["policy"]["forceFlag"] = forced;
        });
    }
    void SetSwitch(const wchar_t* name, plat::DWORD v) {
        DE::Registry::SetValue(plat::kHKeyUsers, SettingKey(), name, v);
    }
    static void BusyWindow() {
        plat::CreateTopWindow({0, L"Pilotdeck", L"", true, plat::Rect{0, 0, 100, 100}, 0});
    }
    static void ItEdition() {
        kvatest::WriteChangedFile(CKVASoftShelf::FilePath(), R"(<softshelf it="true"><plugin name="MsgPop"/></softshelf>)");
    }
    // The application error reports so far, without the leading "3011".
    static std::vector<Values> Reports() {
        std::vector<Values> out;
        for (const auto& e : Events(3011)) out.emplace_back(e.values.begin() + 1, e.values.end());
        return out;
    }
    static bool Downloaded() {
        WaitDownloads();
        return DE::FileExists(GetDownloadPath("0", "5.1.0.12", 0, 1) + "\\update.zip");
    }
};

TEST_F(SelfUpdateCheckTest, EachGateReportsItsErrorTypeAndTrack) {
    struct Row {
        const char* what;
        bool forced;
        int selfUpdate;  // the user's switch; -1: not set
        std::vector<std::pair<const char*, const char*>> facts;
        bool busyWindow, synergyInUse;
        std::vector<Values> reports;
    };
    const Row rows[] = {
        {"forced, window", true, -1, {}, true, false, {{"2", "1", "3"}}},
        {"forced, disk", true, -1, {{"disk-free", "10"}}, false, false, {{"2", "1", "2"}}},
        {"manual unfinished", false, -1, {}, false, true, {{"5", "1", "4"}}},
        {"not agreed, battery", false, 0, {{"battery", "5"}, {"ac", "0"}}, false, false,
         {{"5", "1", "7"}, {"1", "3", "1"}}},
        {"not agreed, disk", false, 0, {{"disk-free", "10"}}, false, false,
         {{"5", "1", "7"}, {"1", "3", "2"}}},
        {"silent, window", false, 1, {}, true, false, {{"5", "1", "3"}}},
        {"silent, disk", false, 1, {{"disk-free", "10"}}, false, false, {{"5", "2", "2"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        Offer(row.forced);
        auto q = StartService();
        m_synergyInUse = row.synergyInUse;
        if (row.selfUpdate >= 0) SetSwitch(L"selfupdate", static_cast<plat::DWORD>(row.selfUpdate));
        for (const auto& [name, value] : row.facts) plat::SetOverride(name, value);
        if (row.busyWindow) BusyWindow();
        EXPECT_FALSE(q->CheckCorvellaVersion());
        EXPECT_EQ(Reports(), row.reports);
        EXPECT_FALSE(Downloaded());
    }
}

TEST_F(SelfUpdateCheckTest, NotAFreeSceneWaitsForALaterRoundAndAFreeOneDownloads) {
    Offer(false);
    SetSwitch(L"selfupdate", 1);
    auto q = StartService();
    kvatest::CRecordingPeer mainUi(ipc_endpoint::kMainUI);
    ASSERT_TRUE(Publish(SystemState(0)));
    ASSERT_TRUE(Eventually([&] { return !q->IsFreeScene(); }));
    EXPECT_TRUE(q->CheckCorvellaVersion());
    EXPECT_EQ(Reports(), (std::vector<Values>{{"5", "1", "8"}}));
    EXPECT_FALSE(Downloaded());
    tagIPC_MESSAGE_ITEM notice;
    ASSERT_TRUE(mainUi.WaitFor(ipc_msg::kMainUIAppUpdate, &notice));
    EXPECT_EQ(notice.nSenderID, -1);
    EXPECT_EQ(notice.nMessageLen, 0);

    ASSERT_TRUE(Publish(SystemState(1)));
    ASSERT_TRUE(Eventually([&] { return q->IsFreeScene(); }));
    EXPECT_TRUE(q->CheckCorvellaVersion());
    EXPECT_TRUE(Downloaded());
    EXPECT_EQ(q->AppUpdateInfo().versionInfo.strNextVersion, "5.1.0.12");
}

TEST_F(SelfUpdateCheckTest, ClosedForceSwitchStopsTheForcedUpdateButNotOnAnItEdition) {
    Offer(true);
    SetSwitch(L"forceupdate", 0);
    auto q = StartService();
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "15", Entry(PACKAGE_KNOWN));
    EXPECT_FALSE(q->CheckCorvellaVersion());
    EXPECT_TRUE(q->ForceTable().empty());
    EXPECT_EQ(Events(6011).back().values, (Values{"6011", "1", "0"}));
    EXPECT_FALSE(Downloaded());

    ItEdition();
    Offer(false);  // the edition alone makes it forced
    EXPECT_TRUE(q->CheckCorvellaVersion());
    EXPECT_TRUE(Downloaded());
    EXPECT_TRUE(q->AppUpdateInfo().policy.forceFlag);
}

TEST_F(SelfUpdateCheckTest, ShopModelDownloadsWithTheForceSwitchClosedAndWithoutThePopUpPlugIn) {
    Offer(false);
    SetSwitch(L"forceupdate", 0);
    kvatest::WriteChangedFile(CKVASoftShelf::FilePath(), "<softshelf/>");  // an edition without "MsgPop"
    // The maker signs the retail marker and the catalogue with one key, which the configuration names.
    std::string pem, pub;
    ASSERT_TRUE(GenerateMakerKey(&pem, &pub));
    CCatalogueMaker maker(ServiceFolder(), pem);
    maker.AddPackage("application", "0", "Pilotdeck", "5.1.0.12", 5);
    ASSERT_TRUE(maker.Write(ModelKey(), 1000, plat::CClock::Get().WallMs() / 1000 + 86400));
    kvatest::WriteChangedFile(plat::ToHostPath(std::wstring(kShopModelMarkerFile)), "MZ retail");
    ASSERT_TRUE(FileInfo::SignFile(kShopModelMarkerFile, pem));
    const auto cfg = CCommonCfgMgr::FilePath();
    std::string xml = kvatest::ReadAll(cfg);
    const auto at = xml.find("publicKey=\"") + 11;
    xml.replace(at, xml.find('"', at) - at, pub);
    kvatest::WriteChangedFile(cfg, xml);
    ASSERT_TRUE(IsShopModel());

    auto q = StartService();
    EXPECT_TRUE(q->CheckCorvellaVersion());
    EXPECT_TRUE(Downloaded());
    EXPECT_TRUE(q->AppUpdateInfo().policy.forceFlag);
    EXPECT_EQ(Events(6011).back().values, (Values{"6011", "1", "0"}));
}

TEST_F(SelfUpdateCheckTest, AnUpdateZipAlreadyThereSkipsTheDiskCheck) {
    Offer(true);
    std::ofstream(plat::ToHostPath(GetDownloadPath("0", "5.1.0.12", 1, 1) + "\\update.zip")) << "partial";
    plat::SetOverride("disk-free", "10");
    auto q = StartService();
    EXPECT_TRUE(q->CheckCorvellaVersion());
    EXPECT_TRUE(Reports().empty());
    WaitDownloads();
}

TEST_F(SelfUpdateCheckTest, NoNewerVersionEndsTheRoundWithItsEvent) {
    WriteCatalogue();
    auto q = StartService();
    EXPECT_TRUE(q->CheckCorvellaVersion());
    ASSERT_EQ(Events(3004).size(), 1u);
    EXPECT_TRUE(Reports().empty());
}

}  // namespace
