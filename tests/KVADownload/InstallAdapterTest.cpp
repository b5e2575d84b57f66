#include <thread>

#include "IpcTestKit.h"
#include "KVADownload/InstallAdapter.h"
#include "kva/platform/Clock.h"

namespace {

class InstallAdapterTest : public kvatest::CIpcTest {};

TEST_F(InstallAdapterTest, TheInstallersEightByteAnswerComesBackAndSilenceTimesOut) {
    auto service = Client(0x50000);
    auto installer = Client(0x30000);
    std::atomic<bool> answer{true};
    installer->BindMessageCallback(0x30008, [&](tagIPC_MESSAGE_ITEM& req) {
        if (!answer) return;
        char body[8] = {0, 0, 0, 0, 7, 0, 0, 0};  // setup result 0, exit code 7
        tagIPC_MESSAGE_ITEM reply = req;
        reply.nReceiverID = req.nSenderID;
        reply.nSenderID = 0x30000;
        reply.nMessageLen = 8;
        reply.pszMessage = body;
        installer->PostIPCMessage(reply);
    });
    std::string text = R"({"id":"23"})";
    tagIPC_MESSAGE_ITEM req = Item(0x30000, 0x50000, 0x30008, text);
    req.nSyncMessageId = 12345;

    CInstallAdapter adapter(service.get(), 5);
    tagIPC_MESSAGE_ITEM got;
    ASSERT_TRUE(adapter.SendSetupIPCMessage(req, got, 1200000));
    ASSERT_EQ(got.nMessageLen, 8);
    EXPECT_EQ(got.nSyncMessageId, 12345);
    EXPECT_EQ(got.pszMessage[4], 7);

    answer = false;
    std::atomic<bool> result{true};
    std::thread waiter([&] { result = adapter.SendSetupIPCMessage(req, got, 1200000); });
    ASSERT_TRUE(plat::CClock::Get().WaitForSleepers(1));  // the waiter
    plat::CClock::Get().Advance(std::chrono::milliseconds(1200000));
    waiter.join();
    EXPECT_FALSE(result.load());
    EXPECT_EQ(got.nMessageID, -1) << "a failed wait leaves the answer at its start values";
    EXPECT_EQ(got.nMessageLen, 0);

    CInstallAdapter noClient(nullptr, 2);
    EXPECT_FALSE(noClient.SendSetupIPCMessage(req, got, 10));
}

}  // namespace
