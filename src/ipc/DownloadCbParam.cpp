#include "ipc/DownloadCbParam.h"

void IPCRead(IIPCDataIO& io, strDRIVER_DOWNLOAD_CB_PARAM& record) {
    record.strDriverID = ReadIPCString(io);
    record.strInstallPath = ReadIPCString(io);
    record.cbValue1 = io.ReadInt32();
    record.errorCode = io.ReadInt32();
    record.cbValue2 = io.ReadByte();
    record.success = io.ReadInt32();
}

void IPCWrite(IIPCDataIO& io, const strDRIVER_DOWNLOAD_CB_PARAM& record) {
    WriteIPCString(io, record.strDriverID);
    WriteIPCString(io, record.strInstallPath);
    io.WriteInt32(record.cbValue1);
    io.WriteInt32(record.errorCode);
    io.WriteByte(record.cbValue2);
    io.WriteInt32(record.success);
}
