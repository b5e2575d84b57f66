// The notice controllers against a message centre that records tips and answers as the user.
#include <nlohmann/json.hpp>

#include "DriverFixture.h"
#include "DuiLib/UICulture.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "KVATipsSDK/TipsWire.h"
#include "Util/DE.h"
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "kva/platform/Text.h"
#include "self_update/KVAAppUpdataXML.h"
#include "self_update/KVAFullUpdaterDlg.h"
#include "self_update/KVASelfUpdateXML.h"

namespace {

using kvatest::Eventually;
namespace w = vtr::tips_sdk::wire;

class NoticeControllersTest : public kvatest::CDriverTest {
protected:
    void SetUp() override {
        CDriverTest::SetUp();
        m_centre = std::make_unique<CIPCMessageClient>(w::kMessageCentre, true, false);
        m_centre->BindDefaultCallback(m_tips.Callback());
        ASSERT_TRUE(m_centre->WaitForHub(std::chrono::seconds(10)));
        m_status = std::make_unique<CIPCMessageClient>(ipc_endpoint::kAppManager, true, false);
        m_status->BindMessageCallback(ipc_msg::kDriverStatus, [this](tagIPC_MESSAGE_ITEM& q) {
            ++m_statusAsked;
            char answer = m_driversInstalling ? '1' : '0';
            m_status->PostIPCMessage(MakeIPCReply(q, ipc_endpoint::kAppManager, &answer, 1));
        });
        ASSERT_TRUE(m_status->WaitForHub(std::chrono::seconds(10)));
        KVAAppUpdataXML::GetInstance()->Reload();
        KVASelfUpdateXML::GetInstance()->Reload();
    }
    void TearDown() override {
        KVASelfUpdateXML::GetInstance()->Reload();
        KVAAppUpdataXML::GetInstance()->Reload();
        vtr::tips_sdk::KVATipsManager::GetInstance()->Disconnect();
        m_status.reset();
        m_centre.reset();
        CDriverTest::TearDown();
    }
    // The n-th item the message centre received, once it came.
    std::pair<int, nlohmann::json> Tip(std::size_t n) {
        EXPECT_TRUE(m_tips.WaitFor(n + 1));
        const auto tips = m_tips.Items();
        if (n >= tips.size()) return {};
        // The payload up to its terminator, as the message centre reads it.
        return {tips[n].item.nMessageID, nlohmann::json::parse(tips[n].payload.c_str(), nullptr, false)};
    }
    void Answer(int tipId, int event, const std::string& text) {
        std::string body = nlohmann::json{{"id", tipId}, {"event", event}, {"text", text}}.dump() + '\0';
        const auto item = kvatest::CIpcTest::Item(w::kTipsClient, w::kMessageCentre, w::kTipReply, body);
        ASSERT_TRUE(m_centre->PostIPCMessage(item));
    }
    plat::DWORD Setting(const wchar_t* name) {
        plat::DWORD v = 99;
        DE::Registry::GetValue(plat::kHKeyUsers, SettingKey(), name, v);
        return v;
    }
    static std::string Text(const wchar_t* id) { return plat::ToUtf8(DuiLib::UICulture::GetInstance()->GetString(id)); }

    kvatest::CRecorder m_tips;
    std::unique_ptr<CIPCMessageClient> m_centre;
    std::unique_ptr<CIPCMessageClient> m_status;
    std::atomic<bool> m_driversInstalling{false};
    std::atomic<int> m_statusAsked{0};
};

TEST_F(NoticeControllersTest, DriverNoticeCloseOptionsStoreTheUsersChoice) {
    auto* notice = KVAAppUpdataXML::GetInstance();
    auto b = Package("14", "Onboard Audio Driver", 100);
    b.isInvolovedA = true;
    notice->SetDriverList({Package("15", "Wireless LAN Driver", 100), b});
    ASSERT_TRUE(notice->GetDriverItem());
    auto [kind, tip] = Tip(0);
    EXPECT_EQ(kind, w::kShowTip);
    ASSERT_EQ(tip["items"].size(), 2u);
    EXPECT_EQ(tip["items"][0]["state"], 1);
    EXPECT_EQ(tip["items"][1]["state"], 2);
    EXPECT_EQ(tip["icon"], "../../res/drawable/tips/title/title_doctor.png");
    EXPECT_EQ(tip["closeOptions"][1], Text(L"IDS_DRVUP_MSGCENTER_IGNORE"));
    EXPECT_NE(tip["title"].get<std::string>().find('2'), std::string::npos) << tip["title"];
    EXPECT_FALSE(notice->GetDriverItem()) << "one notice at a time";

    Answer(tip["id"], 3, "0");
    ASSERT_TRUE(Eventually([&] { return Setting(L"driverRemind") == 1; }));
    EXPECT_EQ(Setting(L"checkupdate"), 1u);
    EXPECT_TRUE(notice->RemindFlag());
    ASSERT_TRUE(Eventually([] { return !CBIDataReport::GetInstance()->Events(619002012).empty(); }));
    EXPECT_EQ(CBIDataReport::GetInstance()->Events(619002012).back().values, (std::vector<std::string>{"1", "1"}));

    Answer(tip["id"], 3, "1");
    ASSERT_TRUE(Eventually([&] { return Setting(L"driverRemind") == 2; }));
    EXPECT_EQ(Setting(L"checkupdate"), 0u);
    EXPECT_FALSE(notice->RemindFlag());
    notice->CloseTips();
    EXPECT_EQ(Tip(1).first, w::kCloseTip);
    EXPECT_FALSE(notice->GetDriverItem()) << "not reminded again in this process";

    // A new process reads mode 2: no notice but after the machine's first start.
    notice->Reload();
    EXPECT_EQ(notice->RemindMode(), 2u);
}

TEST_F(NoticeControllersTest, ButtonWhileDriversInstallTurnsIntoTheWaitingNoticeAndAPressThereClosesIt) {
    auto* notice = KVASelfUpdateXML::GetInstance();
    auto app = Package("0", "Pilotdeck", 100);
    app.versionInfo.strNextVersion = "5.1.0.12";
    notice->SetDriverVersionInfo(app);
    auto [kind, tip] = Tip(0);
    EXPECT_NE(tip["content"].get<std::string>().find("5.1.0.12"), std::string::npos) << tip["content"];
    EXPECT_TRUE(notice->IsUpgrading());
    notice->SetDriverVersionInfo(app);  // refused while upgrading
    EXPECT_EQ(Tip(1).first, w::kShowTip);
    EXPECT_EQ(Tip(1).second["update"], true) << "shown, then updated once";

    m_driversInstalling = true;
    Answer(tip["id"], 1, "");
    auto waiting = Tip(2).second;
    EXPECT_EQ(waiting["button"], Text(L"IDS_SELFUPDATE_WAIT_CONFIRM"));
    EXPECT_EQ(waiting["content"], Text(L"IDS_SELFUPDATE_WATTING_DRVUP"));
    EXPECT_FALSE(notice->HasFullUpdater());

    Answer(tip["id"], 1, "");
    EXPECT_EQ(Tip(3).first, w::kCloseTip);
    ASSERT_TRUE(Eventually([&] { return m_statusAsked == 2; }));
    EXPECT_FALSE(notice->HasFullUpdater());
    ASSERT_TRUE(Eventually([&] { return !notice->IsUpgrading(); }));
}

TEST_F(NoticeControllersTest, ApplicationNoticeCloseOptionsStoreTheRemindFlagAndMode) {
    auto* notice = KVASelfUpdateXML::GetInstance();
    notice->SetDriverVersionInfo(Package("0", "Pilotdeck", 100));
    const int id = Tip(0).second["id"];
    Answer(id, 3, "0");
    ASSERT_TRUE(Eventually([&] { return Setting(L"selfRemind") == 1; }));
    EXPECT_EQ(Setting(L"selfupdate"), 1u);
    Answer(id, 3, "1");
    ASSERT_TRUE(Eventually([&] { return Setting(L"selfRemind") == 2; }));
    EXPECT_EQ(Setting(L"selfupdate"), 0u);
    EXPECT_FALSE(notice->RemindFlag());
}

TEST_F(NoticeControllersTest, InstallerCommandLineHasTwoBlanksAndTheUsersLocaleOrChinese) {
    EXPECT_EQ(CKVAFullUpdaterDlg::CommandLine("C:\\up\\setup.exe", ""),
              "C:\\up\\setup.exe /QU /NCRC  -ParaLangage=\"zh-CN\"");
    EXPECT_EQ(CKVAFullUpdaterDlg::UserLocale(), "");
    DE::Registry::SetValue(plat::kHKeyUsers, UserKey(L"\\Control Panel\\International\\"), L"LocaleName",
                           std::wstring(L"de-DE"));
    EXPECT_EQ(CKVAFullUpdaterDlg::UserLocale(), "de-DE");

    kvatest::CRecordingPeer installer(ipc_endpoint::kInstaller);
    CKVAFullUpdaterDlg updater(nullptr, Package("0", "Pilotdeck", 100));
    EXPECT_EQ(updater.PostSetupDriverMsg("C:\\up\\setup.exe"), 0u);
    tagIPC_MESSAGE_ITEM item;
    std::string text;
    ASSERT_TRUE(installer.WaitFor(ipc_msg::kSetupApplication, &item, &text));
    EXPECT_EQ(item.nSenderID, ipc_endpoint::kSelfUpdateUI);
    EXPECT_EQ(text, std::string("C:\\up\\setup.exe /QU /NCRC  -ParaLangage=\"de-DE\"") + '\0');
    EXPECT_TRUE(updater.IsInstalling());
}

}  // namespace
