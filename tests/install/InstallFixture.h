// The service with an installer (0x30000) that records every setup request and answers as the
// test scripts it: 8 bytes (result, exit code), any other bytes, or never.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "install/SetupMessage.h"

namespace kvatest {

class CInstallerStub {
public:
    struct CRequest {
        tagIPC_MESSAGE_ITEM item;
        std::string text;  // the payload up to its terminating zero
        _SETUP_DRIVER_MSG msg;
    };

    CInstallerStub();
    // nullopt: never answer.
    void Answer(std::optional<std::string> bytes);
    void AnswerResult(std::uint32_t result, std::uint32_t exitCode) { Answer(SetupAnswerBytes(result, exitCode)); }
    bool WaitForRequests(std::size_t count);
    std::vector<CRequest> Requests();
    std::vector<std::string> RequestedIds();
    // Waits (real time) for the next 0x30006 command line.
    bool WaitForCommandLine(std::string* text);

private:
    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::optional<std::string> m_answer = SetupAnswerBytes(0, 0);
    std::vector<CRequest> m_requests;
    CRecorder m_commandLines;
    CIPCMessageClient m_client;
};

class CInstallTest : public CDriverTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Puts `id` into a table as a finished download, with its description in the detected folder.
    void Ready(CKVAServerQuery& q, _DRIVER_UPDATE_TYPE table, const std::string& id, const std::string& name,
               bool downloadedThisRun = true);
    // Starts the install thread 2 s into the service's life (its reporting thread's wait is over).
    void StartLoop(CKVAServerQuery& q);
    // Waits until the install thread sleeps after its pass number `passes`. For the first 178 s.
    static bool LoopAsleep(CKVAServerQuery& q, int passes);
    static std::vector<std::string> EventTexts(int shortNumber);

    std::unique_ptr<CInstallerStub> m_installer;
};

}  // namespace kvatest
