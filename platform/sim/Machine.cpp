#include "kva/platform/Machine.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "MachineDb.h"
#include "kva/platform/Text.h"
#include "kva/platform/Types.h"

namespace plat {

namespace {

thread_local DWORD t_lastError = 0;

std::string ReadFirstLine(const char* file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

void PurgeStaleVolatileKeys(sim::CMachineDb& db, const std::string& boot) {
    db.Exec("DELETE FROM reg_keys WHERE volatile_boot IS NOT NULL AND volatile_boot <> ?", {boot});
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

bool OpenMachine(const std::filesystem::path& stateFolder) {
    if (!sim::CMachineDb::Open(stateFolder)) return false;
    PurgeStaleVolatileKeys(sim::CMachineDb::Current(), BootId());
    return true;
}

std::filesystem::path StateFolder() { return sim::CMachineDb::Current().Folder(); }

std::filesystem::path DefaultStateFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        return std::filesystem::path(xdg) / "kva" / "machine";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local/share/kva/machine";
}

std::string BootId() {
    if (auto sim = sim::CMachineDb::Current().ReadText("SELECT value FROM meta WHERE name='boot-id'")) {
        return *sim;
    }
    // The real boot cannot change under a running process.
    static const std::string real = ReadFirstLine("/proc/sys/kernel/random/boot_id");
    return real.empty() ? "unknown-boot" : real;
}

void SimulateReboot() {
    std::mt19937_64 rng(std::random_device{}());
    std::ostringstream id;
    id << std::hex << rng() << rng();
    auto& db = sim::CMachineDb::Current();
    db.Exec("INSERT OR REPLACE INTO meta(name, value) VALUES('boot-id', ?)", {id.str()});
    PurgeStaleVolatileKeys(db, id.str());
}

std::optional<std::string> GetOverride(const std::string& fact) {
    return sim::CMachineDb::Current().ReadText("SELECT value FROM facts WHERE name=?", {fact});
}

bool SetOverride(const std::string& fact, const std::string& value) {
    return sim::CMachineDb::Current().Exec("INSERT OR REPLACE INTO facts(name, value) VALUES(?, ?)",
                                           {fact, value});
}

bool ClearOverride(const std::string& fact) {
    return sim::CMachineDb::Current().Exec("DELETE FROM facts WHERE name=?", {fact});
}

std::vector<std::pair<std::string, std::string>> ListOverrides() {
    std::vector<std::pair<std::string, std::string>> out;
    sim::CMachineDb::Current().Exec("SELECT name, value FROM facts ORDER BY name", {},
                                    [&](sqlite3_stmt* s) {
                                        out.emplace_back(sim::ColumnText(s, 0), sim::ColumnText(s, 1));
                                    });
    return out;
}

std::string ProductName() {
    if (auto o = GetOverride("product")) return *o;
    std::string real = ReadFirstLine("/sys/class/dmi/id/product_name");
    return real.empty() ? "Unknown" : real;
}

std::wstring CurrentUserSid() {
    auto sid = sim::CMachineDb::Current().ReadText("SELECT value FROM meta WHERE name='sid'");
    if (!sid) return L"S-1-5-21-0-0-0-" + std::to_wstring(1000 + getuid());
    return FromUtf8(*sid);
}

}  // namespace plat
