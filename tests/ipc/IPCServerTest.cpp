// Typed requests end to end: CIPCServer over a real client and an in-process hub.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "IpcTestKit.h"
#include "ipc/DownloadCbParam.h"
#include "ipc/IPCServer.h"

namespace {

using kvatest::CRecorder;
using kvatest::kRealTimeout;

class IpcServerTest : public kvatest::CIpcTest {};

// The shape of the service's typed handler: a member taking the record by constant reference.
struct CTarget {
    std::mutex m;
    std::vector<strDRIVER_DOWNLOAD_CB_PARAM> calls;
    CRecorder done;
    void OnRecvCancelDownload(const strDRIVER_DOWNLOAD_CB_PARAM& p) {
        {
            std::lock_guard lock(m);
            calls.push_back(p);
        }
        tagIPC_MESSAGE_ITEM marker;
        done.Record(marker);
    }
};

using CCancelProc = CIPCServerProc<CTarget, void, const strDRIVER_DOWNLOAD_CB_PARAM&>;

TEST_F(IpcServerTest, ATypedRequestReachesTheTargetAndABadOneIsDroppedInTheHandler) {
    CTarget target;
    auto service = Client(0x50000);
    auto ui = Client(0xF0000);
    CIPCServer server(service.get(), false);
    ASSERT_EQ(server.RegisterProc(new CCancelProc(0xF000B, &target, &CTarget::OnRecvCancelDownload)), 1);

    auto post = [&](std::string body) {
        tagIPC_MESSAGE_ITEM item = Item(0x50000, 0xF0000, 0xF000B, body);
        ASSERT_TRUE(ui->PostIPCMessage(item));
    };
    std::string wrongVersion = SerializeTypedRequest(strDRIVER_DOWNLOAD_CB_PARAM{"a", "b", 0, 0, 0, 0});
    wrongVersion[0] = 2;
    post(wrongVersion);
    post(SerializeTypedRequest(strDRIVER_DOWNLOAD_CB_PARAM{"a", "b", 0, 0, 0, 0}).substr(0, 10));
    post(std::string());
    post(SerializeTypedRequest(strDRIVER_DOWNLOAD_CB_PARAM{"pkg1", "C:\\x", 3, 4, 1, 1}));

    ASSERT_TRUE(target.done.WaitFor(1));
    std::lock_guard lock(target.m);
    ASSERT_EQ(target.calls.size(), 1u);
    EXPECT_EQ(target.calls[0].strDriverID, "pkg1");
    EXPECT_EQ(target.calls[0].success, 1);
    EXPECT_EQ(service->Stats().callbackErrors, 0u) << "no error reached the IPC library";
}

TEST_F(IpcServerTest, ProcessRaisesTheVersionError) {
    CTarget target;
    CCancelProc proc(0xF000B, &target, &CTarget::OnRecvCancelDownload);
    std::string body = SerializeTypedRequest(strDRIVER_DOWNLOAD_CB_PARAM{});
    body[0] = 0;
    tagIPC_MESSAGE_ITEM item;
    item.pszMessage = body.data();
    item.nMessageLen = static_cast<std::int32_t>(body.size());
    CIPCDataIO io(item, CIPCDataIO::kReading);
    try {
        proc.Process(io);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid Serialize ver");
    }
    EXPECT_TRUE(target.calls.empty());
    proc.OnProcMessage(item);  // the registered callback keeps the error to itself
    EXPECT_TRUE(target.calls.empty());
}

// Records the order in which handlers go away.
struct COrderedProc : CIPCServerProcBase {
    COrderedProc(std::int32_t id, std::vector<std::int32_t>* gone) : CIPCServerProcBase(id), m_gone(gone) {}
    ~COrderedProc() override { m_gone->push_back(MessageId()); }
    void Process(IIPCDataIO&) override {}
    std::vector<std::int32_t>* m_gone;
};

TEST_F(IpcServerTest, AHandlerRegisteredTwiceGetsMinusOneAndTheFirstStays) {
    CTarget first, second;
    std::vector<std::int32_t> gone;
    CRecorder fallback;
    auto service = Client(0x50000);
    auto ui = Client(0xF0000);
    {
        CIPCServer server(service.get(), false);
        ASSERT_EQ(server.RegisterProc(new CCancelProc(0xF000B, &first, &CTarget::OnRecvCancelDownload)), 1);
        auto* again = new CCancelProc(0xF000B, &second, &CTarget::OnRecvCancelDownload);
        EXPECT_EQ(server.RegisterProc(again), -1);
        delete again;  // a refused handler stays the caller's

        std::string body = SerializeTypedRequest(strDRIVER_DOWNLOAD_CB_PARAM{"p", "q", 0, 0, 0, 1});
        ASSERT_TRUE(ui->PostIPCMessage(Item(0x50000, 0xF0000, 0xF000B, body)));
        ASSERT_TRUE(first.done.WaitFor(1));
        EXPECT_TRUE(second.calls.empty());

        for (std::int32_t id : {0xF0013, 0x50005, 0xF0009}) ASSERT_EQ(server.RegisterProc(new COrderedProc(id, &gone)), 1);
        server.UnRegisterAll();
        EXPECT_EQ(gone, (std::vector<std::int32_t>{0x50005, 0xF0009, 0xF0013}));

        // Unregistered: the client has no callback for the id any more.
        service->BindDefaultCallback(fallback.Callback());
        ASSERT_TRUE(ui->PostIPCMessage(Item(0x50000, 0xF0000, 0xF000B, body)));
        ASSERT_TRUE(fallback.WaitFor(1));
        EXPECT_EQ(first.calls.size(), 1u);
        ASSERT_EQ(server.RegisterProc(new COrderedProc(0x1, &gone)), 1);
    }
    EXPECT_EQ(gone.back(), 0x1) << "the destructor unregisters and deletes what is left";
}

}  // namespace
