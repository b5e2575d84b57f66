// The message centre of `kva suite`, a process of its own, acting as the user on this process's
// window and tip through the automation interface and the tips library.
#include <fstream>
#include <future>

#include "DuiLib/UIMainQueue.h"
#include "DuiLib/WindowImplBase.h"
#include "IPCMessage/IPCEndpoint.h"
#include "IPCMessage/IPCMessageClient.h"
#include "KVATipsSDK/KVATipsManager.h"
#include "TestMachine.h"
#include "ipc/IPCReply.h"
#include "ipc/IpcIds.h"
#include "ipc/MsgCenterRequest.h"
#include "kva/platform/Process.h"

namespace {

using namespace DuiLib;
constexpr auto kRealTimeout = std::chrono::milliseconds(20000);

class CMcProbeWnd : public WindowImplBase {
public:
    CMcProbeWnd() {
        m_PaintManager.LoadLayoutText(R"(<Window size="200,40"><Label name="TxtMsg" text="waiting"/>
                                         <Button name="BtnOk" text="OK"/></Window>)");
    }
    std::wstring GetWindowClassName() const override { return L"KvaMcProbe"; }
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == DUI_MSGTYPE_CLICK) {
            m_PaintManager.FindControl(L"TxtMsg")->SetText(L"clicked");
            clicked.set_value();
        }
    }
    std::promise<void> clicked;
};

class MessageCentreTest : public kvatest::CTestMachine {
protected:
    void TearDown() override {
        vtr::tips_sdk::KVATipsManager::GetInstance()->Disconnect();
        kvatest::CTestMachine::TearDown();
    }
    std::string ExpectLine(const std::string& text) { return kvatest::ExpectLine(m_suite, text, kRealTimeout); }
    plat::CChildProcess m_suite;
};

TEST_F(MessageCentreTest, ScenarioClicksThisProcesssWindowAnswersItsTipAndShowsRequests) {
    ipcmsg::SetHubEndpoint("");
    auto wnd = std::make_unique<CMcProbeWnd>();
    auto clicked = wnd->clicked.get_future();
    std::promise<plat::HWND> created;
    UIMainQueue::getInstance()->dispatch([&] { created.set_value(wnd->Create(0, L"", WS_POPUP, 0)); });
    ASSERT_NE(created.get_future().get(), 0u);

    const auto scenario = State() / "scenario.txt";
    std::ofstream(scenario) << "mc wait-window KvaMcProbe\nmc click KvaMcProbe BtnOk\nmc show KvaMcProbe\n"
                               "mc wait-tip\nmc option 1\n";
    ASSERT_TRUE(kvatest::StartKva(m_suite, State(), {"suite", "--scenario", scenario.string(), "--do",
                                                     "mc click KvaMcProbe NoSuchButton"}));
    ExpectLine("peers ready");
    ASSERT_EQ(clicked.wait_for(kRealTimeout), std::future_status::ready);
    const std::string shown = ExpectLine("msgcentre window KvaMcProbe (");
    EXPECT_NE(shown.find("TxtMsg=\"clicked\""), std::string::npos) << shown;

    auto& tips = *vtr::tips_sdk::KVATipsManager::GetInstance();
    auto tip = tips.CreateTips(L"probe", vtr::tips_sdk::TIPS_NORMAL);
    tip->SetTitleTxt(L"New version");
    tip->SetCloseOption({L"Later", L"Never"});
    std::promise<std::wstring> answer;
    tip->SetReplyCallback([&](int event, const std::wstring& text) { answer.set_value(std::to_wstring(event) + L":" + text); });
    ASSERT_TRUE(tips.Show(tip));
    ExpectLine("\"New version\"");
    auto got = answer.get_future();
    ASSERT_EQ(got.wait_for(kRealTimeout), std::future_status::ready);
    EXPECT_EQ(got.get(), L"3:1");
    ExpectLine("cannot click NoSuchButton of KvaMcProbe");

    CMsgCenterRequest req;
    req.firstOwnerId = 77;
    req.kindValue = 77;
    req.displayTimeMs = 21600000;
    auto bytes = req.Serialize();
    CIPCMessageClient sender(-1, false, false);
    ASSERT_TRUE(sender.PostIPCMessage(MakeIPCPost(ipc_endpoint::kMessageCentre, ipc_msg::kMsgCenterRequest,
                                                  ipc_msg::kMsgCenterSecondId, bytes.data(),
                                                  static_cast<std::int32_t>(bytes.size()))));
    const std::string request = ExpectLine("msgcentre request");
    EXPECT_NE(request.find("kind 4, owner 77, second owner 0, shown 21600000 ms"), std::string::npos) << request;
    EXPECT_NE(request.find("(35 bytes)"), std::string::npos) << request;

    EXPECT_EQ(m_suite.Stop(), 0);
    std::promise<void> gone;
    UIMainQueue::getInstance()->dispatch([&] {
        wnd.reset();
        gone.set_value();
    });
    gone.get_future().wait();
}

}  // namespace
