#include "kva/platform/SimDevices.h"

#include <algorithm>
#include <sstream>

#include "MachineDb.h"
#include "SimDevicesInternal.h"
#include "kva/platform/Machine.h"

namespace plat {

namespace {

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t* out) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    *out = std::stoull(text);
    return *out <= max;
}

bool ApplyToken(const std::string& token, PdScript* s) {
    std::uint64_t n = 0;
    if (token == "open=fail") s->openFails = true;
    else if (token == "ioctl=fail") s->ioctlFails = true;
    else if (token == "method=fail") s->methodFails = true;
    else if (token == "early") s->early = true;
    else if (token == "input=u8") s->u8InputOnly = true;
    else if (token == "event=none") s->eventId.reset();
    else if (token == "event=676") s->eventId = 676;
    else if (token == "event=677") s->eventId = 677;
    else if (token.rfind("reply=", 0) == 0 && ParseNumber(token.substr(6), 255, &n)) {
        s->reply = static_cast<std::uint8_t>(n);
    } else if (token.rfind("delay=", 0) == 0 && ParseNumber(token.substr(6), 0xFFFFFFFE, &n)) {
        s->delayMs = static_cast<std::uint32_t>(n);
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::optional<PdScript> ParsePdScript(const std::string& text) {
    PdScript s;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        if (!ApplyToken(token, &s)) return std::nullopt;
    }
    return s;
}

PdScript CurrentPdScript() {
    auto text = GetOverride("pd");
    if (!text) return PdScript{};
    return ParsePdScript(*text).value_or(PdScript{});
}

namespace sim {

static bool EnsureCallTable() {
    return CMachineDb::Current().Exec(
        "CREATE TABLE IF NOT EXISTS device_calls(seq INTEGER PRIMARY KEY AUTOINCREMENT, "
        "device TEXT NOT NULL, call TEXT NOT NULL, detail TEXT NOT NULL, size INTEGER NOT NULL)");
}

std::int64_t RecordDeviceCall(const std::string& device, const std::string& call,
                              const std::string& detail, std::int64_t size) {
    auto& db = CMachineDb::Current();
    std::lock_guard lock(db.Mutex());
    EnsureCallTable();
    db.Exec("INSERT INTO device_calls(device, call, detail, size) VALUES(?, ?, ?, ?)",
            {device, call, detail, size});
    return db.LastInsertId();
}

std::filesystem::path EcImageFolder() { return StateFolder() / "devices" / "VtOs2EcX64"; }

}  // namespace sim

std::vector<DeviceCall> ListDeviceCalls() {
    std::vector<DeviceCall> out;
    sim::EnsureCallTable();
    sim::CMachineDb::Current().Exec(
        "SELECT seq, device, call, detail, size FROM device_calls ORDER BY seq", {},
        [&](sqlite3_stmt* s) {
            out.push_back({sqlite3_column_int64(s, 0), sim::ColumnText(s, 1), sim::ColumnText(s, 2),
                           sim::ColumnText(s, 3), sqlite3_column_int64(s, 4)});
        });
    return out;
}

void ClearDeviceCalls() {
    sim::EnsureCallTable();
    sim::CMachineDb::Current().Exec("DELETE FROM device_calls");
    std::error_code ec;
    std::filesystem::remove_all(sim::EcImageFolder(), ec);
}

std::vector<std::filesystem::path> ListEcImages() {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(sim::EcImageFolder(), ec)) {
        out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace plat
