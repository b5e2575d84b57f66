// strDRIVER_DOWNLOAD_CB_PARAM: the body of a typed request about one package download (the
// cancel request). In the wire order: strDriverID, strInstallPath, cbValue1, errorCode, cbValue2
// (one byte), success (non-zero: success).
#pragma once

#include <cstdint>
#include <string>

#include "ipc/IPCDataIO.h"

struct strDRIVER_DOWNLOAD_CB_PARAM {
    std::string strDriverID;     // the package
    std::string strInstallPath;  // local path of the downloaded installer
    std::int32_t cbValue1 = 0;
    std::int32_t errorCode = 0;
    std::uint8_t cbValue2 = 0;
    std::int32_t success = 0;
};

// Field by field, in the order above. IPCRead throws the cursor's errors.
void IPCRead(IIPCDataIO& io, strDRIVER_DOWNLOAD_CB_PARAM& record);
void IPCWrite(IIPCDataIO& io, const strDRIVER_DOWNLOAD_CB_PARAM& record);
