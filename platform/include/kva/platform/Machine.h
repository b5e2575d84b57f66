// The machine: which state folder this process works on, its boot id and its overridable facts.
// The simulated backend keeps the facts in one SQLite database in the state folder, shared by
// every process of the suite; any thread may call these functions.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// Opens (creating if needed) the machine in `stateFolder`. Until a process calls this, the first
// use of the port opens the folder named by $KVA_STATE, else DefaultStateFolder(). Re-opening
// another folder is allowed (tests do it); handles of the old machine become invalid.
bool OpenMachine(const std::filesystem::path& stateFolder);
std::filesystem::path StateFolder();
std::filesystem::path DefaultStateFolder();

// The boot id: the kernel's unless a simulated reboot replaced it. Volatile registry keys live
// exactly as long as one boot id.
std::string BootId();
void SimulateReboot();

// Overridable facts ("battery", "ac", "disk-free", "product", "screen", ...). An absent override
// means "use the real fact where Linux has one".
std::optional<std::string> GetOverride(const std::string& fact);
bool SetOverride(const std::string& fact, const std::string& value);
bool ClearOverride(const std::string& fact);
std::vector<std::pair<std::string, std::string>> ListOverrides();

// Machine identity.
std::string ProductName();          // DMI product name, or the "product" override
std::wstring CurrentUserSid();      // a stable SID string for this user on this machine

}  // namespace plat
