#include "kva/platform/DeviceIo.h"

#include "Win32.h"

namespace plat {

namespace {

HANDLE Native(HDEVICE device) { return reinterpret_cast<HANDLE>(device); }

}  // namespace

HDEVICE CreateDeviceFile(std::wstring_view name, DWORD access, DWORD shareMode, DWORD disposition,
                         DWORD attributes) {
    const HANDLE h = ::CreateFileW(win32::Z(name).c_str(), access, shareMode, nullptr, disposition, attributes,
                                   nullptr);
    // INVALID_HANDLE_VALUE is kInvalidDevice; the last error is the API's.
    return reinterpret_cast<HDEVICE>(h);
}

bool DeviceIoControl(HDEVICE device, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned) {
    if (device == kInvalidDevice || device == 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    ::DWORD got = 0;
    const BOOL ok = ::DeviceIoControl(Native(device), code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr);
    if (returned) *returned = got;
    return ok != FALSE;
}

bool CloseDevice(HDEVICE device) {
    if (device == kInvalidDevice || device == 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::CloseHandle(Native(device)) != FALSE;
}

}  // namespace plat
