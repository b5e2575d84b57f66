// Where the hub of this machine listens. Every client and hub of a process uses the same address
// unless told otherwise:
//   1. the address set with SetHubEndpoint (tests point a process at an inproc:// hub),
//   2. else $KVA_IPC_ENDPOINT,
//   3. else ipc://<state folder>/ipc/hub.sock, in a folder that only the user may enter.
// Addresses are ZeroMQ endpoints: "ipc://<path>" between processes, "inproc://<name>" inside one
// process. Thread-safe.
#pragma once

#include <string>

namespace ipcmsg {

void SetHubEndpoint(const std::string& endpoint);  // empty: back to the environment and default
std::string HubEndpoint();

// For an ipc:// address, makes its folder private to the user (created 0700 when absent; a folder
// owned by someone else or reachable through a symbolic link is refused). True for other schemes.
bool PrepareEndpoint(const std::string& endpoint);

}  // namespace ipcmsg
