#include "kva/platform/DeviceIo.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

#include "SimDevicesInternal.h"
#include "kva/platform/Registry.h"
#include "kva/platform/SimDevices.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

constexpr std::wstring_view kEcDevice = L"\\\\.\\VtOs2EcX64";
constexpr const char* kEcName = "VtOs2EcX64";
constexpr DWORD kPdImageCode = CtlCode(0x22, 0x72, kMethodBuffered, kFileReadAccess);

std::mutex g_deviceMtx;
std::map<HDEVICE, std::string> g_open;
HDEVICE g_next = 0x5000;

// The service-path value the suite toggles around opening the device; the record keeps what it
// was when the device was opened.
std::string ServicePathState() {
    HKEY key = 0;
    DWORD value = 0;
    if (RegOpenKey(kHKeyLocalMachine, L"SOFTWARE\\Vantor\\Pilotdeck", kKeyRead, &key) != kErrorSuccess) {
        return "-1";
    }
    const LONG rc = RegGetDword(key, L"KVAServicePath", &value);
    RegCloseKey(key);
    return rc == kErrorSuccess ? std::to_string(value) : "-1";
}

bool KeepImage(std::int64_t seq, const void* data, DWORD size) {
    std::error_code ec;
    std::filesystem::create_directories(sim::EcImageFolder(), ec);
    char name[32];
    std::snprintf(name, sizeof name, "image-%06lld.bin", static_cast<long long>(seq));
    std::ofstream out(sim::EcImageFolder() / name, std::ios::binary);
    if (size) out.write(static_cast<const char*>(data), size);
    return static_cast<bool>(out);
}

}  // namespace

HDEVICE CreateDeviceFile(std::wstring_view name, DWORD access, DWORD, DWORD disposition, DWORD) {
    if (!EqualsNoCase(ToUtf8(name), ToUtf8(kEcDevice)) || disposition != kOpenExisting) {
        SetLastError(kErrorFileNotFound);
        return kInvalidDevice;
    }
    if (CurrentPdScript().openFails || (access & (kGenericRead | kGenericWrite)) == 0) {
        sim::RecordDeviceCall(kEcName, "open-failed", "service-path=" + ServicePathState(), 0);
        SetLastError(kErrorAccessDenied);
        return kInvalidDevice;
    }
    sim::RecordDeviceCall(kEcName, "open", "service-path=" + ServicePathState(), 0);
    std::lock_guard lock(g_deviceMtx);
    const HDEVICE h = g_next++;
    g_open[h] = kEcName;
    return h;
}

bool DeviceIoControl(HDEVICE device, DWORD code, const void* in, DWORD inSize, void*, DWORD,
                     DWORD* returned) {
    if (returned) *returned = 0;
    {
        std::lock_guard lock(g_deviceMtx);
        if (!g_open.count(device)) {
            SetLastError(kErrorInvalidHandle);
            return false;
        }
    }
    if (code != kPdImageCode || (inSize && !in)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", code);
    const std::int64_t seq = sim::RecordDeviceCall(kEcName, "ioctl", hex, inSize);
    KeepImage(seq, in, inSize);
    if (CurrentPdScript().ioctlFails) {
        SetLastError(kErrorInternal);
        return false;
    }
    return true;
}

bool CloseDevice(HDEVICE device) {
    std::lock_guard lock(g_deviceMtx);
    if (!g_open.erase(device)) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    sim::RecordDeviceCall(kEcName, "close", "", 0);
    return true;
}

}  // namespace plat
