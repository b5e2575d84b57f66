#include "IPCMessage/IPCEndpoint.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"

namespace ipcmsg {

namespace {

std::mutex& EndpointMutex() {
    static auto* m = new std::mutex;  // never destroyed: clients may be destroyed at exit
    return *m;
}

std::string& EndpointOverride() {
    static auto* s = new std::string;
    return *s;
}

constexpr std::string_view kIpcScheme = "ipc://";

}  // namespace

void SetHubEndpoint(const std::string& endpoint) {
    std::lock_guard lock(EndpointMutex());
    EndpointOverride() = endpoint;
}

std::string HubEndpoint() {
    {
        std::lock_guard lock(EndpointMutex());
        if (!EndpointOverride().empty()) return EndpointOverride();
    }
    if (const char* env = std::getenv("KVA_IPC_ENDPOINT"); env && *env) return env;
    return std::string(kIpcScheme) + (plat::StateFolder() / "ipc" / "hub.sock").string();
}

bool PrepareEndpoint(const std::string& endpoint) {
    if (endpoint.rfind(kIpcScheme, 0) != 0) return true;
    const std::filesystem::path socket(endpoint.substr(kIpcScheme.size()));
    if (!plat::MakePrivateFolder(socket.parent_path())) {
        KVA_LOG_ERROR("ipc folder is not private to this user, refusing it: " << socket.parent_path().string());
        return false;
    }
    return true;
}

}  // namespace ipcmsg
