#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

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
        tagIPC_MESSAGE_ITEM req;
        req.nReceiverID = 0x50000;
        req.nSenderID = 0xF0000;
        req.nMessageID = messageId;
        req.nSyncMessageId = syncId;
        req.nMessageLen = static_cast<int>(body.size());
        req.pszMessage = const_cast<char*>(body.data());
        tagIPC_MESSAGE_ITEM reply;
        if (!m_peer->SendIPCMessage(req, reply, 20000)) return false;
        EXPECT_EQ(reply.nSenderID, 0x50000);
        EXPECT_EQ(reply.nReplyMessageID, -1);
        EXPECT_EQ(reply.nSyncMessageId, syncId);
        answer->assign(reply.pszMessage ? reply.pszMessage : "", reply.nMessageLen);
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
    const auto image = plat::ToHostPath("C:\\sources\\boot.wim");
    std::filesystem::create_directories(image.parent_path());
    std::ofstream(image) << "wim";
    ASSERT_TRUE(Ask(0xF0011, "", &answer));
    EXPECT_EQ(answer, std::string(1, '\1'));
}

TEST_F(EndpointTest, DriverCountGoesToTheDoctorAndTheGenericSendPostsAsIs) {
    CIPCMessageClient doctor(0x200000, true, false);
    std::mutex mtx;
    std::vector<tagIPC_MESSAGE_ITEM> got;
    std::vector<std::string> bodies;
    auto record = [&](tagIPC_MESSAGE_ITEM& item) {
        std::lock_guard lock(mtx);
        got.push_back(item);
        bodies.emplace_back(item.pszMessage ? item.pszMessage : "", item.nMessageLen);
    };
    doctor.BindMessageCallback(0x200003, record);
    doctor.BindMessageCallback(0x200077, record);
    ASSERT_TRUE(doctor.WaitForHub(Ms(10000)));
    EXPECT_TRUE(m_service->SendDrvNumtoDoctor(0x01020304));
    char data[] = "hello";
    EXPECT_TRUE(m_service->SendIPCMessage(0x200000, 0x200077, 5, data, 5));
    ASSERT_TRUE(kvatest::Eventually([&] {
        std::lock_guard lock(mtx);
        return got.size() == 2;
    }));
    std::lock_guard lock(mtx);
    EXPECT_EQ(got[0].nSenderID, 0x50000);
    EXPECT_EQ(got[0].nReplyMessageID, 0);
    EXPECT_EQ(bodies[0], std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(got[1].nSenderID, -1);
    EXPECT_EQ(got[1].nReplyMessageID, 5);
    EXPECT_EQ(got[1].nReserved, -1);
    EXPECT_EQ(bodies[1], "hello");
}

}  // namespace
