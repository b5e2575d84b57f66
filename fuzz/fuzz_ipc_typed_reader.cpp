// The typed-request reader over strDRIVER_DOWNLOAD_CB_PARAM: any payload a peer sends either reads
// as a record or fails with one of the cursor's runtime errors; nothing else, no over-read, no
// allocation beyond the payload. A record that reads writes back to exactly the bytes it was read from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "ipc/DownloadCbParam.h"
#include "ipc/IPCServer.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"

namespace {

struct CTarget {
    strDRIVER_DOWNLOAD_CB_PARAM last;
    int calls = 0;
    void OnRecvCancelDownload(const strDRIVER_DOWNLOAD_CB_PARAM& p) {
        last = p;
        ++calls;
    }
};

// The handler logs every refused request; the fuzzer's millions would only fill a disk.
bool QuietMachine() {
    const auto dir = std::filesystem::temp_directory_path() / "kva-fuzz-ipc";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "log4cplus.properties") << "log4cplus.rootLogger=OFF\n";
    plat::OpenMachine(dir);
    plat::ConfigureLogging(dir, false);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = QuietMachine();
    (void)quiet;
    // The payload in a buffer of its own size, so reading one byte too far is caught.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    tagIPC_MESSAGE_ITEM item;
    item.pszMessage = size ? bytes.data() : nullptr;
    item.nMessageLen = static_cast<std::int32_t>(size);

    CTarget target;
    CIPCServerProc<CTarget, void, const strDRIVER_DOWNLOAD_CB_PARAM&> proc(0xF000B, &target, &CTarget::OnRecvCancelDownload);
    CIPCDataIO io(item, CIPCDataIO::kReading);
    bool ok = true;
    try {
        proc.Process(io);
    } catch (const std::runtime_error& e) {
        ok = false;
        const std::string what = e.what();
        if (what != "Invalid Serialize ver" && what != "Data for unserialize too small") __builtin_trap();
    }
    if (ok != (target.calls == 1)) __builtin_trap();
    if (ok) {
        const std::string again = SerializeTypedRequest(target.last);
        if (again.size() != io.Position() || std::memcmp(again.data(), data, again.size()) != 0) __builtin_trap();
    }
    if (item.pszMessage != (size ? bytes.data() : nullptr) || item.nMessageLen != static_cast<std::int32_t>(size)) {
        __builtin_trap();  // a reading cursor leaves the item untouched
    }
    // The registered callback never lets an error out.
    proc.OnProcMessage(item);
    return 0;
}
