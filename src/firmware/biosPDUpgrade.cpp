#include "firmware/biosPDUpgrade.h"

#include <cmath>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "Util/DE.h"
#include "firmware/WMIForPD.h"
#include "kva/platform/Clock.h"
#include "kva/platform/DeviceIo.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"

namespace {

constexpr const wchar_t* kEcDevice = L"\\\\.\\VtOs2EcX64";
constexpr plat::DWORD kPdImageCode = plat::CtlCode(0x22, 0x72, plat::kMethodBuffered, plat::kFileReadAccess);
static_assert(kPdImageCode == 0x2241C8);
constexpr double kMaxImageKiB = 128;
constexpr std::uint8_t kFlashCommand[8] = {0x06, 0x0D, 0, 0, 0, 0, 0, 0};

// The upgrade that is running, for the WMI callback; the lock keeps it alive while the callback
// uses it.
std::mutex g_runningMutex;
UpgradePD* g_pRunning = nullptr;

class CRunningScope {
public:
    explicit CRunningScope(UpgradePD* upgrade) {
        std::lock_guard lock(g_runningMutex);
        g_pRunning = upgrade;
    }
    ~CRunningScope() {
        std::lock_guard lock(g_runningMutex);
        g_pRunning = nullptr;
    }
    CRunningScope(const CRunningScope&) = delete;
    CRunningScope& operator=(const CRunningScope&) = delete;
};

}  // namespace

bool UpgradePD::driver_setting_bin(const std::uint8_t* data, std::uint32_t size) {
    if (!data) {
        KVA_LOG_ERROR("address is null");
        return false;
    }
    DE::Registry::SetRegKVAServicePath(false);
    const plat::HDEVICE device = plat::CreateDeviceFile(kEcDevice, plat::kGenericRead, 0, plat::kOpenExisting,
                                                        plat::kFileAttributeNormal);
    const plat::DWORD openError = plat::GetLastError();
    DE::Registry::SetRegKVAServicePath(true);
    if (device == plat::kInvalidDevice) {
        KVA_LOG_ERROR("updatePD create file:" << openError);
        return false;
    }
    plat::DWORD returned = 0;
    const bool ok = plat::DeviceIoControl(device, kPdImageCode, data, size, nullptr, 0, &returned);
    if (!ok) KVA_LOG_ERROR("updatePD device io control:" << 0);
    plat::CloseDevice(device);
    return ok;
}

void UpgradePD::GetWmiEventIDCallback(std::uint32_t eventId) {
    if (eventId != kEventSuccess && eventId != kEventFailure) return;
    const bool success = eventId == kEventSuccess;
    if (success) KVA_LOG_WARN("recv notify id result suc");
    else KVA_LOG_WARN("recv notify id result failed");
    std::lock_guard lock(g_runningMutex);
    if (!g_pRunning) return;
    g_pRunning->m_bSuccess = success;
    if (g_pRunning->m_hEvent) g_pRunning->m_hEvent->Set();
}

// Steps 1-6: read the image, hand it to the driver, then check its size.
bool UpgradePD::ReadAndHandOver(const std::string& path) {
    const auto hostPath = plat::ToHostPath(path);
    std::error_code ec;
    if (!std::filesystem::exists(hostPath, ec)) {
        KVA_LOG_ERROR("bin file not Exist " << path);
        return false;
    }
    std::ifstream stream(hostPath, std::ios::binary);
    stream.seekg(0, std::ios::end);
    const std::streamoff length = stream ? static_cast<std::streamoff>(stream.tellg()) : -1;
    if (length < 0 || length > 0xFFFFFFFFLL) {
        KVA_LOG_ERROR("stream.tellg(),length is: " << length);
        return false;
    }
    stream.seekg(0, std::ios::beg);
    std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[length + 1]());
    if (!data) {
        KVA_LOG_ERROR("memory alloc failed, pData is null");
        return false;
    }
    stream.read(reinterpret_cast<char*>(data.get()), length);
    bool ok = driver_setting_bin(data.get(), static_cast<std::uint32_t>(length));
    if (!ok) {
        KVA_LOG_ERROR("get pd phyadd malloc errro");
    } else {
        const double kib = std::ceil(static_cast<double>(length) / 1024.0);
        ok = kib >= 1 && kib <= kMaxImageKiB;
        if (!ok) KVA_LOG_ERROR("upgradePDVersion check error");
    }
    if (!ok) KVA_LOG_ERROR("end loop with exception " << 0);
    return ok;
}

int UpgradePD::WaitForOutcome() {
    plat::CEvent event;
    {
        std::lock_guard lock(g_runningMutex);
        m_hEvent = &event;
    }
    plat::CClock::Get().Wait({&event, m_pStop}, kWaitMs);
    {
        std::lock_guard lock(g_runningMutex);
        m_hEvent = nullptr;
    }
    const int result = m_bSuccess ? kResultSuccess : kResultNoSuccess;
    m_bSuccess = false;
    return result;
}

// Steps 7-11: start the flash through WMI and wait for its outcome.
int UpgradePD::RunFlash() {
    CWMIForPD wmi(L"ROOT\\WMI");
    wmi.StartCatchOemEvent();
    std::uint8_t input[CWMIForPD::kInputBytes] = {};
    std::copy(std::begin(kFlashCommand), std::end(kFlashCommand), input);
    std::uint8_t output[CWMIForPD::kOutputBytes] = {};
    int result;
    if (!wmi.GetOutPutUIntEx(input, output, sizeof output)) {
        KVA_LOG_ERROR("upgradePDVersion wmi return error");
        result = kResultMethodFailed;
    } else if (output[0] == 0) {
        result = WaitForOutcome();
    } else {
        result = kResultRefused;
    }
    KVA_LOG_WARN("upgradePDVersion ret=" << result);
    return result;  // the connection's teardown cancels the subscription
}

int UpgradePD::upgradePDVersion(const std::string& path) {
    CRunningScope running(this);
    if (!ReadAndHandOver(path)) return kResultBadImage;
    return RunFlash();
}
