#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "IpcTestKit.h"
#include "ServerQueryFixture.h"
#include "Util/DE.h"
#include "kva/platform/Paths.h"

namespace {

using Ms = std::chrono::milliseconds;

class EndpointTest : public kvatest::CServiceTest {
protected:
    void SetUp() override {
        CServiceTest::SetUp();
        m_service = std::make_unique<CKVAServerQuery>();
        m_peer = std::make_unique<CIPCMessageClient>(0xF0000, true, false);
        ASSERT_TRUE(m_hub->WaitForEndpoint(0x50000, 1, Ms(10000)));
        ASSERT_TRUE(m_peer->WaitForHub(Ms(10000)));
    }
    void TearDown() override {
        m_peer.reset();
        m_service.reset();
        CServiceTest::TearDown();
    }
    // Sends a request to the service as the UI would and returns the reply's payload.
    bool Ask(int messageId, const std::string& body, std::string* answer, int syncId = 77) {
        tagIPC_MESSAGE_ITEM reply;
        const auto text = kvatest::Ask(*m_peer, 0x50000, 0xF0000, messageId, syncId, &reply, body);
        if (!text) return false;
        EXPECT_EQ(reply.nSenderID, 0x50000);
        EXPECT_EQ(reply.nReplyMessageID, -1);
        EXPECT_EQ(reply.nSyncMessageId, syncId);
        *answer = *text;
        return true;
    }
    std::unique_ptr<CKVAServerQuery> m_service;
    std::unique_ptr<CIPCMessageClient> m_peer;
};

TEST_F(EndpointTest, BiosQueryAnswersNotFoundWhateverTheRequestClaimed) {
    std::string answer;
    ASSERT_TRUE(Ask(0x50016, R"({"drvType":3,"strDriverID":"12","strVersion":"9.9","result":1})", &answer, 4242));
    auto j = nlohmann::json::parse(answer);
    EXPECT_EQ(j["strVersion"], "0");
    EXPECT_EQ(j["result"], 0);
    EXPECT_EQ(j["drvType"], 3) << "passed through";
    EXPECT_EQ(j["strDriverID"], "12");
    ASSERT_TRUE(Ask(0x50016, "not json", &answer));
    EXPECT_EQ(nlohmann::json::parse(answer)["strDriverID"], "");
}

TEST_F(EndpointTest, FirmwareQueryAsksTheVersionModuleBesideTheHost) {
    DE::Registry::SetValue(plat::kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Inventory\\45", L"Version", std::wstring(L"3.2.1"));
    std::string answer;
    ASSERT_TRUE(Ask(0xF000E, R"({"drvType":45,"strDriverID":"45","strDrvName":"PD"})", &answer));
    auto j = nlohmann::json::parse(answer);
    EXPECT_EQ(j["strVersion"], "3.2.1");
    EXPECT_EQ(j["result"], 1);
    ASSERT_TRUE(Ask(0xF000E, R"({"strDriverID":"46"})", &answer));
    EXPECT_EQ(nlohmann::json::parse(answer)["result"], 0);
}

TEST_F(EndpointTest, WinPECheckAnswersOneByte) {
    std::string answer;
    ASSERT_TRUE(Ask(0xF0011, "ignored payload", &answer));
    EXPECT_EQ(answer, std::string(1, '\0'));
    kvatest::WriteChangedFile(plat::ToHostPath("C:\\sources\\boot.wim"), "wim");
    ASSERT_TRUE(Ask(0xF0011, "", &answer));
    EXPECT_EQ(answer, std::string(1, '\1'));
}

TEST_F(EndpointTest, DriverCountGoesToTheDoctorAndTheGenericSendPostsAsIs) {
    kvatest::CRecorder seen;
    CIPCMessageClient doctor(0x200000, true, false);
    doctor.BindDefaultCallback(seen.Callback());
    ASSERT_TRUE(doctor.WaitForHub(Ms(10000)));
    EXPECT_TRUE(m_service->SendDrvNumtoDoctor(0x01020304));
    char data[] = "hello";
    EXPECT_TRUE(m_service->SendIPCMessage(0x200000, 0x200077, 5, data, 5));
    const auto count = seen.Take(0x200003), generic = seen.Take(0x200077);
    ASSERT_TRUE(count && generic);
    EXPECT_EQ(count->item.nSenderID, 0x50000);
    EXPECT_EQ(count->item.nReplyMessageID, 0);
    EXPECT_EQ(count->payload, std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(generic->item.nSenderID, -1);
    EXPECT_EQ(generic->item.nReplyMessageID, 5);
    EXPECT_EQ(generic->item.nReserved, -1);
    EXPECT_EQ(generic->payload, "hello");
}

}  // namespace
