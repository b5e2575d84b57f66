// The coordination handlers of the service's endpoint, fed by peers over the test's hub.
#include <nlohmann/json.hpp>

#include "DriverFixture.h"
#include "DuiLib/UIMainQueue.h"
#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "driver_update/DownloadRequest.h"
#include "driver_update/PackageTablesView.h"
#include "kva/platform/Paths.h"
#include <fstream>
#include "KVATipsSDK/KVATipsManager.h"
#include "ipc/IpcIds.h"
#include "ipc/MsgCenterRequest.h"
#include "self_update/KVAAppUpdataXML.h"

namespace {

using kvatest::Eventually;

class CoordinationTest : public kvatest::CDriverTest {
protected:
    void TearDown() override {
        KVAAppUpdataXML::GetInstance()->Reload();
        vtr::tips_sdk::KVATipsManager::GetInstance()->Disconnect();
        CDriverTest::TearDown();
    }
    // A message the service handles after every one sent before it: the synergy answer, which
    // wakes a question that waits for it.
    void Settle(CKVAServerQuery& q) { EXPECT_FALSE(q.IsSynergyInUse()); }
};

// The free-scene flag as the tables view shows it (for `kva status`), "" before the view exists.
std::string ViewedFreeScene() {
    std::ifstream in(plat::ToHostPath(GetAppDataFolder() + driver_update::kPackageTablesFile));
    const auto view = nlohmann::json::parse(in, nullptr, false);
    return view.is_object() ? view["service"].value("freeScene", true) ? "free" : "busy" : "";
}

TEST_F(CoordinationTest, SystemStateFollowsTheSceneWordButNotWhenByte28IsSet) {
    auto q = StartService();
    ASSERT_TRUE(Publish(SystemState(0, 0)));
    ASSERT_TRUE(Eventually([&] { return !q->IsFreeScene(); }));
    EXPECT_TRUE(Eventually([] { return ViewedFreeScene() == "busy"; })) << "the view follows the flag at once";
    ASSERT_TRUE(Publish(SystemState(1, 1)));  // ignored entirely
    ASSERT_TRUE(Publish(std::string()));  // no payload
    ASSERT_TRUE(Publish(SystemState(1, 0).substr(0, 20)));
    Settle(*q);
    EXPECT_FALSE(q->IsFreeScene());
    EXPECT_TRUE(Events(2010).empty());
    ASSERT_TRUE(Publish(SystemState(1, 0)));
    ASSERT_TRUE(Eventually([&] { return q->IsFreeScene(); }));
    ASSERT_TRUE(Eventually([&] { return Events(2010).size() == 1; }));
    EXPECT_TRUE(Eventually([] { return ViewedFreeScene() == "free"; }));
}

TEST_F(CoordinationTest, FreeSceneStartsIdleDownloadsAgainForNewAndFailedEntriesOnly) {
    WriteCatalogue([](CCatalogueMaker& m) {
        m.AddPackage("driver", "14", "Onboard Audio Driver", "6.0", 5);
        m.AddPackage("driver", "19", "Audio Codec", "6.1", 5);
        m.AddPackage("driver", "20", "Card Reader", "1.2", 5);
    });
    auto q = StartService();
    const std::pair<const char*, enmPACKAGE_STATE> entries[] = {
        {"14", PACKAGE_KNOWN}, {"19", PACKAGE_DOWNLOAD_FAILED}, {"20", PACKAGE_DOWNLOAD_CANCELLED}};
    for (const auto& [id, state] : entries) {
        enmUPGRADE_DRIVER_INFO e;
        driver_update::CopyRecordToEntry(Offered(id), e);
        e.state = state;
        q->SetTableEntry(DRIVER_UPDATE_IDLE, id, e);
    }
    ASSERT_TRUE(Publish(SystemState(1, 0)));
    ASSERT_TRUE(Eventually([&] { return q->IdleTable().at("14").state == PACKAGE_DOWNLOADED; }));
    ASSERT_TRUE(Eventually([&] { return q->IdleTable().at("19").state == PACKAGE_DOWNLOADED; }));
    ASSERT_TRUE(WaitDownloads());
    EXPECT_EQ(q->IdleTable().at("20").state, PACKAGE_DOWNLOAD_CANCELLED);
}

TEST_F(CoordinationTest, AnIgnoredPackageLeavesTheNoticeForTheExtrasAndTheNoticeShowsTheRest) {
    auto q = StartService();
    auto a = Package("15", "Wireless LAN Driver", 100);
    a.strCurVersion = "22.1";
    a.isInvolovedA = true;
    auto b = Package("14", "Onboard Audio Driver", 100);
    q->SetPopupDrivers({a, b});
    kvatest::CRecordingPeer doctor(ipc_endpoint::kDoctor);
    const int before = KVAAppUpdataXML::GetInstance()->NoticesRequested();

    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppMgAnswer, "0"));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppMgAnswer, "1;15;9.9"));  // a version not offered
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppMgAnswer, "1;15;" + a.versionInfo.strNextVersion + ";14"));
    ASSERT_TRUE(Eventually([&] { return q->ExtraDrivers().size() == 1; }));
    Settle(*q);
    const auto extra = q->ExtraDrivers().at(0);
    EXPECT_EQ(extra.strDriverID, "15");
    EXPECT_EQ(extra.strCurVersion, "22.1");
    EXPECT_TRUE(extra.isInvolovedA);
    EXPECT_EQ(extra.strNextVersion, a.versionInfo.strNextVersion);
    EXPECT_EQ(extra.strIgnoreTime.size(), 16u) << extra.strIgnoreTime;
    ASSERT_EQ(q->PopupDrivers().size(), 1u);
    EXPECT_EQ(q->PopupDrivers()[0].strDriverID, "14");
    // The doctor hears of what is left after each answer; "0" asks for no notice, each "1" for one.
    ASSERT_TRUE(Eventually([&] { return doctor.Count(ipc_msg::kDoctorDriverCount) == 3; }));
    EXPECT_EQ(KVAAppUpdataXML::GetInstance()->NoticesRequested(), before + 2);
    EXPECT_EQ(Events(5006).size(), 2u);
}

TEST_F(CoordinationTest, UiStatusMarksThePackageInstalledAndSetsOnlyItsOwnFlag) {
    auto q = StartService();
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "15", Entry(PACKAGE_KNOWN));
    q->SetTableEntry(DRIVER_UPDATE_FORCE, "15", Entry(PACKAGE_KNOWN));
    UpdaterManager::enmUPDATER_ERROR_TYPE error{};
    auto status = [&](const std::string& json) { ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppManagerUIStatus, json + '\0')); };

    status(R"({"strDriverID":"15","complete":false,"sourceType":3})");
    ASSERT_TRUE(Eventually([&] { return q->IdleTable().at("15").state == PACKAGE_INSTALLED; }));
    EXPECT_EQ(q->ForceTable().at("15").state, PACKAGE_INSTALLED);
    EXPECT_TRUE(q->CheckManualState(error)) << "type 3 sets no flag";

    for (int type : {0, 1, 2}) {
        status(R"({"complete":false,"sourceType":)" + std::to_string(type) + "}");
        ASSERT_TRUE(Eventually([&] { return !q->CheckManualState(error); })) << type;
        status(R"({"complete":true,"sourceType":)" + std::to_string(type) + "}");
        ASSERT_TRUE(Eventually([&] { return q->CheckManualState(error); })) << type;
    }
    status("garbage");  // defaults: type 1, not complete
    ASSERT_TRUE(Eventually([&] { return !q->CheckManualState(error); }));
}

TEST_F(CoordinationTest, PayloadsOfTheWrongSizeOrNoneChangeNothing) {
    auto q = StartService();
    q->SetTableEntry(DRIVER_UPDATE_IDLE, "15", Entry(PACKAGE_KNOWN));
    q->SetPopupDrivers({Package("15", "Wireless LAN Driver", 100)});
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppMgAnswer, ";;"));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppMgCloseWin, std::string("\1\0\0", 3)));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppMgCloseWin, ""));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kSettingPopWindowAnswer, std::string("\1\1", 2)));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kSettingPopWindowAnswer, ""));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kSettingCloseWin, ""));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kAppManagerUIStatus, ""));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kUpdateXML, ""));
    Settle(*q);
    ASSERT_TRUE(DuiLib::UIMainQueue::getInstance()->WaitIdle());
    EXPECT_EQ(q->IdleTable().at("15").state, PACKAGE_KNOWN);
    EXPECT_EQ(q->PopupDrivers().size(), 1u);
    EXPECT_TRUE(q->ExtraDrivers().empty());
    EXPECT_TRUE(Events(5006).empty());
}

TEST_F(CoordinationTest, MessageCentreRequestIsTheRecordByteForByte) {
    auto q = StartService();
    kvatest::CRecordingPeer centre(ipc_endpoint::kMessageCentre);
    ASSERT_TRUE(q->SendMessageToMsgCenter(0x1122334455667788ULL));
    tagIPC_MESSAGE_ITEM item;
    std::string bytes;
    ASSERT_TRUE(centre.WaitFor(ipc_msg::kMsgCenterRequest, &item, &bytes));
    EXPECT_EQ(item.nSenderID, -1);
    EXPECT_EQ(item.nReplyMessageID, ipc_msg::kMsgCenterSecondId);
    const std::string expected = std::string("\xFC\x01\x04\x00\x00\x00", 6) +
                                 "\x88\x77\x66\x55\x44\x33\x22\x11" + std::string(8, '\0') +
                                 std::string("\x00\x97\x49\x01", 4) + std::string(1, '\0') +
                                 "\x88\x77\x66\x55\x44\x33\x22\x11";
    EXPECT_EQ(item.nMessageLen, 35);
    EXPECT_EQ(bytes, expected);
}

TEST_F(CoordinationTest, UpdateXmlOverOnlyTouchesTheCheckTimeItsTypeNames) {
    auto q = StartService();
    CLastCheckTimeMgr times;
    std::int64_t t = 0;
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kUpdateXML, R"({"strDriverID":"over","upateType":2})"));
    Settle(*q);
    EXPECT_FALSE(times.GetDriverCheckTime(t));
    EXPECT_FALSE(times.GetLanternaCheckTime(t));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kUpdateXML, R"({"strDriverID":"over","upateType":1})"));
    ASSERT_TRUE(Eventually([&] { return times.GetDriverCheckTime(t); }));
    EXPECT_FALSE(times.GetLanternaCheckTime(t));
    ASSERT_TRUE(m_appManager->Send(ipc_msg::kUpdateXML, R"({"strDriverID":"over","upateType":0})"));
    ASSERT_TRUE(Eventually([&] { return times.GetLanternaCheckTime(t); }));
}

}  // namespace
