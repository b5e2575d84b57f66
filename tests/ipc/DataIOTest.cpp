// The binary record cursor and the download record's wire form.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "ipc/DownloadCbParam.h"
#include "ipc/IPCDataIO.h"
#include "ipc/IPCServer.h"

namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

tagIPC_MESSAGE_ITEM Over(std::string& bytes) {
    tagIPC_MESSAGE_ITEM item;
    item.pszMessage = bytes.data();
    item.nMessageLen = static_cast<std::int32_t>(bytes.size());
    return item;
}

TEST(IpcDataIO, WritesLittleEndianAndGrowsInStepsOf64KeepingWhatWasWritten) {
    tagIPC_MESSAGE_ITEM item;
    {
        CIPCDataIO io(item, CIPCDataIO::kWriting);
        io.WriteInt32(0x01020304);
        EXPECT_EQ(item.nMessageLen, 64);
        io.WriteByte(0xAB);
        WriteIPCString(io, "abc");
        EXPECT_EQ(io.Position(), 4u + 1 + 4 + 3);
        const std::string head(item.pszMessage, io.Position());
        EXPECT_EQ(head, std::string("\x04\x03\x02\x01\xAB\x03\x00\x00\x00" "abc", 12));
        io.WriteBytes(std::string(52, 'z').data(), 52);  // exactly 64
        EXPECT_EQ(item.nMessageLen, 64);
        io.WriteByte(1);
        EXPECT_EQ(item.nMessageLen, 128);
        EXPECT_EQ(std::string(item.pszMessage, 12), head);
        io.Reserve(1000);
        EXPECT_EQ(item.nMessageLen, 1088);  // position 65 + 1000, rounded up to 64
    }
    // The writing cursor owned the buffer and detached it when it ended.
    EXPECT_EQ(item.pszMessage, nullptr);
    EXPECT_EQ(item.nMessageLen, 0);
}

TEST(IpcDataIO, ReadsBackWhatWasWrittenAndLeavesTheItemUntouched) {
    strDRIVER_DOWNLOAD_CB_PARAM in{"pkg-\xE4\xB8\xAD", "C:\\ProgramData\\x\\setup.exe", -7, 1460, 1, 1};
    std::string bytes = SerializeTypedRequest(in);
    EXPECT_EQ(bytes.size(), 4u + (4 + in.strDriverID.size()) + (4 + in.strInstallPath.size()) + 4 + 4 + 1 + 4);
    tagIPC_MESSAGE_ITEM item = Over(bytes);
    const tagIPC_MESSAGE_ITEM before = item;
    {
        CIPCDataIO io(item, CIPCDataIO::kReading);
        EXPECT_EQ(io.ReadInt32(), 1);
        strDRIVER_DOWNLOAD_CB_PARAM out;
        IPCRead(io, out);
        EXPECT_EQ(out.strDriverID, in.strDriverID);
        EXPECT_EQ(out.strInstallPath, in.strInstallPath);
        EXPECT_EQ(out.cbValue1, -7);
        EXPECT_EQ(out.errorCode, 1460);
        EXPECT_EQ(out.cbValue2, 1);
        EXPECT_EQ(out.success, 1);
        EXPECT_EQ(io.Position(), bytes.size());
    }
    EXPECT_EQ(item.pszMessage, before.pszMessage);
    EXPECT_EQ(item.nMessageLen, before.nMessageLen);
}

TEST(IpcDataIO, TheThreeErrors) {
    tagIPC_MESSAGE_ITEM writing;
    CIPCDataIO writer(writing, CIPCDataIO::kWriting);
    EXPECT_EQ(ErrorOf([&] { writer.ReadInt32(); }), "Invalid serialize call type");
    EXPECT_EQ(ErrorOf([&] { writer.ReadByte(); }), "Invalid serialize call type");
    EXPECT_EQ(ErrorOf([&] { writer.Reserve(0xFFFFFFF + 1u); }), "Invalid buffer size");
    EXPECT_EQ(ErrorOf([&] { writer.Reserve(0xFFFFFFFFu); }), "Invalid buffer size");
    EXPECT_EQ(writing.nMessageLen, 0) << "a refused request leaves the buffer as it was";

    std::string three = "abc";
    tagIPC_MESSAGE_ITEM reading = Over(three);
    CIPCDataIO reader(reading, CIPCDataIO::kReading);
    EXPECT_EQ(ErrorOf([&] { reader.WriteInt32(1); }), "Invalid serialize call type");
    EXPECT_EQ(ErrorOf([&] { reader.WriteByte(1); }), "Invalid serialize call type");
    EXPECT_EQ(ErrorOf([&] { reader.Reserve(1); }), "Invalid serialize call type");
    EXPECT_EQ(ErrorOf([&] { reader.ReadInt32(); }), "Data for unserialize too small");
    EXPECT_EQ(reader.ReadByte(), 'a');
    EXPECT_EQ(ErrorOf([&] { char b[3]; reader.ReadBytes(b, 3); }), "Data for unserialize too small");
    EXPECT_EQ(reader.Position(), 1u) << "a failed read does not move the cursor";
}

TEST(IpcDataIO, APayloadEndingInsideAStringLengthOrInsideAStringIsTooSmall) {
    const std::string whole = SerializeTypedRequest(strDRIVER_DOWNLOAD_CB_PARAM{"driver-id", "path", 1, 2, 1, 1});
    auto readCut = [&](std::size_t keep) {
        std::string bytes = whole.substr(0, keep);
        tagIPC_MESSAGE_ITEM item = Over(bytes);
        return ErrorOf([&] {
            CIPCDataIO io(item, CIPCDataIO::kReading);
            io.ReadInt32();
            strDRIVER_DOWNLOAD_CB_PARAM out;
            IPCRead(io, out);
        });
    };
    EXPECT_EQ(readCut(4 + 2), "Data for unserialize too small");        // inside the first length
    EXPECT_EQ(readCut(4 + 4 + 5), "Data for unserialize too small");    // inside the first string
    EXPECT_EQ(readCut(4 + 13 + 3), "Data for unserialize too small");   // inside the second length
    EXPECT_EQ(readCut(whole.size() - 1), "Data for unserialize too small");
    EXPECT_EQ(readCut(whole.size()), "no error");

    // A length that claims far more than is there fails without reserving that much memory.
    std::string lying("\x01\x00\x00\x00\xFF\xFF\xFF\xFF" "abc", 11);
    tagIPC_MESSAGE_ITEM item = Over(lying);
    CIPCDataIO io(item, CIPCDataIO::kReading);
    io.ReadInt32();
    EXPECT_EQ(ErrorOf([&] { ReadIPCString(io); }), "Data for unserialize too small");
}

}  // namespace
