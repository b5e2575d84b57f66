// Sends a setup request to the suite's installer process and waits for its answer.
//
// The answer item starts with every id field -1, nSyncMessageId 0 and no text; on success it holds
// the installer's reply (8 bytes: setup result, exit code), its payload valid until the calling
// thread's next send. The wait is service time and ends when the client closes.
#pragma once

class CIPCMessageClient;
struct tagIPC_MESSAGE_ITEM;

class CInstallAdapter {
public:
    // updateType: the _DRIVER_UPDATE_TYPE of the install, kept for the installer's log.
    CInstallAdapter(CIPCMessageClient* client, int updateType);

    // False when no answer came within timeoutMs.
    bool SendSetupIPCMessage(const tagIPC_MESSAGE_ITEM& request, tagIPC_MESSAGE_ITEM& answer, unsigned int timeoutMs);

private:
    CIPCMessageClient* m_client;
    int m_updateType;
};
