// Device I/O: open a kernel driver's device by name and send it an I/O control (CreateFileW,
// DeviceIoControl, CloseHandle). On failure the calls set the thread's last error.
//
// The simulated machine has one device, the embedded controller's "\\\\.\\VtOs2EcX64", which keeps
// every buffer it is given with the PD-image control code; SimDevices.h scripts and reads it.
// Any thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "kva/platform/Types.h"

namespace plat {

using HDEVICE = std::intptr_t;
inline constexpr HDEVICE kInvalidDevice = -1;  // INVALID_HANDLE_VALUE

inline constexpr DWORD kGenericRead = 0x80000000;
inline constexpr DWORD kGenericWrite = 0x40000000;
inline constexpr DWORD kOpenExisting = 3;
inline constexpr DWORD kFileAttributeNormal = 0x80;

// CTL_CODE(deviceType, function, method, access)
constexpr DWORD CtlCode(DWORD deviceType, DWORD function, DWORD method, DWORD access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
inline constexpr DWORD kMethodBuffered = 0;
inline constexpr DWORD kFileReadAccess = 1;

// kInvalidDevice when the device does not exist or cannot be opened.
HDEVICE CreateDeviceFile(std::wstring_view name, DWORD access, DWORD shareMode, DWORD disposition,
                         DWORD attributes);
bool DeviceIoControl(HDEVICE device, DWORD code, const void* in, DWORD inSize, void* out,
                     DWORD outSize, DWORD* returned);
bool CloseDevice(HDEVICE device);

}  // namespace plat
