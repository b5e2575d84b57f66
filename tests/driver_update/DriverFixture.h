// The service on a test machine set up for the driver work: the user has accepted the agreement
// and opened the idle switch, the configuration names the idle-capable packages, and two peers
// stand in for synergy (answering as told) and the application manager (recording what it gets).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "IPCMessage/IPCMessageClient.h"
#include "IpcTestKit.h"
#include "ServerQueryFixture.h"
#include "ipc/IpcIds.h"

namespace kvatest {

// A peer that records every item addressed to it and can send requests to the service.
class CRecordingPeer {
public:
    explicit CRecordingPeer(int endpointId);
    // Sends `payload` (as given, no terminator added) to the service under `messageId`.
    bool Send(int messageId, const std::string& payload, int syncId = 0);
    // Waits (real time) for the next item with `messageId`; false on time-out.
    bool WaitFor(int messageId, tagIPC_MESSAGE_ITEM* copy = nullptr, std::string* payload = nullptr);
    std::size_t Count(int messageId) const { return m_seen.Count(messageId); }

private:
    CRecorder m_seen;
    CIPCMessageClient m_client;
};

class CDriverTest : public CServiceTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // commoncfg.xml with these idle-capable names and extra <Update> attributes; the service URL
    // is ServiceUrl() unless given.
    void Configure(const std::vector<std::string>& idleNames, const std::string& updateAttributes = "",
                   const std::string& url = "", int initTimeMinutes = 5);
    void Agree(bool accepted);
    // Starts the service with a 5-minute start delay (its own round never comes unless a test
    // moves the clock that far) and waits until the hub knows its endpoint.
    std::unique_ptr<CKVAServerQuery> StartService();
    static bool WaitDownloads();
    // A table entry in `state` that needs the restart of `restartLevel` (0: none) once installed.
    static enmUPGRADE_DRIVER_INFO Entry(enmPACKAGE_STATE state, int restartLevel = 0);
    static _TOBEUPDATE_DRIVER_INFO Package(const std::string& id, const std::string& name, std::uint64_t size,
                                           int updateType = 5);
    // What the update service offers now, by id (fails the test when it is not offered).
    static _TOBEUPDATE_DRIVER_INFO Offered(const std::string& id);
    // The 32-byte system-state word: `scene` in byte 0 (1: free); byte 28 set makes it ignored.
    static std::string SystemState(std::uint32_t scene, char byte28 = 0);
    // Broadcasts `payload` as a process without an endpoint does; always on one connection, so
    // the service handles the broadcasts in the order they were made.
    bool Publish(const std::string& payload, int messageId = ipc_msg::kSystemState);

    std::atomic<bool> m_synergyInUse{false};
    std::atomic<int> m_synergyAsked{0};
    std::unique_ptr<CIPCMessageClient> m_synergy;
    std::unique_ptr<CRecordingPeer> m_appManager;

private:
    std::unique_ptr<CIPCMessageClient> m_publisher;  // made by the first Publish
};

}  // namespace kvatest
