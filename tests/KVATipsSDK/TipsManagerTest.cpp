#include <nlohmann/json.hpp>

#include <future>
#include <thread>

#include "IpcTestKit.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "KVATipsSDK/TipsWire.h"

namespace {

using namespace vtr::tips_sdk;
namespace w = vtr::tips_sdk::wire;

class TipsManagerTest : public kvatest::CIpcTest {
protected:
    KVATipsManager& tips = *KVATipsManager::GetInstance();
    kvatest::CRecorder centre;
    std::unique_ptr<CIPCMessageClient> centreClient;

    void SetUp() override {
        CIpcTest::SetUp();
        centreClient = Client(w::kMessageCentre);
        centreClient->BindDefaultCallback(centre.Callback());
    }
    void TearDown() override {
        tips.Disconnect();
        centreClient.reset();
        CIpcTest::TearDown();
    }
    nlohmann::json Seen(std::size_t i) { return nlohmann::json::parse(centre.Items().at(i).payload); }
    void Answer(int id, int event, const std::string& text) {
        std::string body = nlohmann::json{{"id", id}, {"event", event}, {"text", text}}.dump();
        ASSERT_TRUE(centreClient->PostIPCMessage(Item(w::kTipsClient, w::kMessageCentre, w::kTipReply, body)));
    }
};

TEST_F(TipsManagerTest, ShownUpdatedAndClosedTipsReachTheMessageCentreWithEverySetterApplied) {
    auto tip = tips.CreateTips(L"DriverUpdate", TIPS_NORMAL);
    ASSERT_TRUE(tip);
    EXPECT_FALSE(tips.Update(tip)) << "not shown yet";
    tip->SetTitleTxt(L"Drivers (2)");
    tip->SetMode(0);
    tip->SetLevel(1);
    tip->SetContentTxt(L"Updates are ready");
    tip->SetItems({{L"icon.png", L"Wireless LAN", 1}, {L"", L"Audio", 2}});
    tip->SetCloseOption({L"Update when idle", L"Ignore"});
    tip->SetTitleIcon(L"title.png");
    tip->SetDescription(L"Suggested");
    tip->SetDescriptionLevel(1);
    tip->SetBtnTxt(L"Update");
    ASSERT_TRUE(tips.Show(tip));
    ASSERT_TRUE(centre.WaitFor(1));
    const auto j = Seen(0);
    EXPECT_EQ(centre.Items()[0].item.nMessageID, w::kShowTip);
    EXPECT_EQ(j["id"], tip->GetId());
    EXPECT_EQ(j["title"], "Drivers (2)");
    EXPECT_EQ(j["level"], 1);
    EXPECT_EQ(j["descriptionLevel"], 1);
    EXPECT_EQ(j["items"][1]["name"], "Audio");
    EXPECT_EQ(j["items"][1]["state"], 2);
    EXPECT_EQ(j["closeOptions"][1], "Ignore");
    EXPECT_EQ(j["button"], "Update");
    EXPECT_EQ(j["update"], false);

    auto progress = std::dynamic_pointer_cast<TipsProcess>(tips.CreateTips(L"FullUpdater", TIPS_PROCESS));
    ASSERT_TRUE(progress);
    EXPECT_NE(progress->GetId(), tip->GetId());
    ASSERT_TRUE(tips.Show(progress));
    progress->SetProcess(140);
    ASSERT_TRUE(tips.Update(progress));
    ASSERT_TRUE(centre.WaitFor(3));
    EXPECT_EQ(Seen(2)["process"], 100);
    EXPECT_EQ(Seen(2)["update"], true);

    EXPECT_TRUE(tips.CloseTips(tip));
    EXPECT_FALSE(tips.CloseTips(tip));
    ASSERT_TRUE(centre.WaitFor(4));
    EXPECT_EQ(centre.Items()[3].item.nMessageID, w::kCloseTip);
    EXPECT_EQ(Seen(3)["id"], tip->GetId());
    EXPECT_EQ(tips.CreateTips(L"x", 1), nullptr);
}

TEST_F(TipsManagerTest, AnswersReachTheReplyCallbackOnTheLibrarysThreadAndOnlyForShownTips) {
    auto tip = tips.CreateTips(L"SelfUpdate", TIPS_NORMAL);
    std::promise<std::tuple<int, std::wstring, std::thread::id>> got;
    tip->SetReplyCallback([&](int event, const std::wstring& text) {
        got.set_value({event, text, std::this_thread::get_id()});
    });
    ASSERT_TRUE(tips.Show(tip));
    ASSERT_TRUE(centre.WaitFor(1));
    std::string junk = "not json";
    ASSERT_TRUE(centreClient->PostIPCMessage(Item(w::kTipsClient, w::kMessageCentre, w::kTipReply, junk)));
    Answer(tip->GetId() + 100, 1, "");  // no such tip
    Answer(tip->GetId(), 3, "1");
    auto f = got.get_future();
    ASSERT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto [event, text, thread] = f.get();
    EXPECT_EQ(event, 3);
    EXPECT_EQ(text, L"1");
    EXPECT_NE(thread, std::this_thread::get_id());

    // Once closed, a late answer is dropped.
    std::atomic<int> late{0};
    tip->SetReplyCallback([&](int, const std::wstring&) { ++late; });
    ASSERT_TRUE(tips.CloseTips(tip));
    tips.DeliverReply(tip->GetId(), 1, L"");
    auto other = tips.CreateTips(L"SelfUpdate", TIPS_NORMAL);
    std::promise<void> otherGot;
    other->SetReplyCallback([&](int, const std::wstring&) { otherGot.set_value(); });
    ASSERT_TRUE(tips.Show(other));
    tips.DeliverReply(other->GetId(), 1, L"");
    ASSERT_EQ(otherGot.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(late, 0);
}

}  // namespace
