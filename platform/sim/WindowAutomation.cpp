#include "kva/platform/WindowAutomation.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>

#include "MachineDb.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

// The tables are this file's own; created on first use so that older machine folders gain them.
sim::CMachineDb& Db() {
    static thread_local sim::CMachineDb* ensured = nullptr;
    auto& db = sim::CMachineDb::Current();
    if (ensured != &db) {
        db.Exec("CREATE TABLE IF NOT EXISTS window_controls("
                "hwnd INTEGER NOT NULL REFERENCES windows(hwnd) ON DELETE CASCADE, name TEXT NOT NULL, "
                "text TEXT NOT NULL, visible INTEGER NOT NULL, PRIMARY KEY(hwnd, name))");
        db.Exec("CREATE TABLE IF NOT EXISTS automation_requests("
                "id INTEGER PRIMARY KEY AUTOINCREMENT, hwnd INTEGER NOT NULL, pid INTEGER NOT NULL, "
                "verb TEXT NOT NULL, arg TEXT NOT NULL, wparam INTEGER NOT NULL, lparam INTEGER NOT NULL, "
                "state INTEGER NOT NULL DEFAULT 0, ok INTEGER NOT NULL DEFAULT 0, value INTEGER NOT NULL DEFAULT 0)");
        ensured = &db;
    }
    return db;
}

// Request states.
constexpr std::int64_t kWaiting = 0;
constexpr std::int64_t kTaken = 1;
constexpr std::int64_t kFinished = 2;

std::int64_t H(HWND h) { return static_cast<std::int64_t>(h); }

// Each owner process has a doorbell, a FIFO in the state folder that a posted request rings, so
// the owner sleeps until there is something to take instead of looking every few milliseconds.
std::filesystem::path BellPath(DWORD pid) {
    return StateFolder() / "automation" / (std::to_string(pid) + ".bell");
}

void Ring(const std::filesystem::path& bell) {
    const int fd = ::open(bell.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;  // the owner does not wait: it takes the request when it next looks
    const char byte = 1;
    (void)!::write(fd, &byte, 1);  // a full FIFO has rung already
    ::close(fd);
}

// This process's open doorbell (read and write ends in one, so it never reads end-of-file).
class CBell {
public:
    // -1 when the bell cannot be made; `fresh` when it was just opened for `path`.
    int Fd(const std::filesystem::path& path, bool* fresh) {
        std::lock_guard lock(m_mtx);
        *fresh = false;
        if (m_fd >= 0 && path == m_path) return m_fd;
        if (m_fd >= 0) ::close(m_fd);
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) return m_fd = -1;
        m_fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        m_path = path;
        *fresh = m_fd >= 0;
        return m_fd;
    }

    void Wake() {
        std::lock_guard lock(m_mtx);
        const char byte = 1;
        if (m_fd >= 0) (void)!::write(m_fd, &byte, 1);
    }

private:
    std::mutex m_mtx;
    int m_fd = -1;
    std::filesystem::path m_path;
};

// Never destroyed: an agent that started after it was made still uses it while static
// destructors run.
CBell& OwnBell() {
    static CBell* const bell = new CBell;
    return *bell;
}

}  // namespace

bool WaitForAutomationRequest(std::chrono::milliseconds realTimeout) {
    bool fresh = false;
    const int fd = OwnBell().Fd(BellPath(CurrentProcessId()), &fresh);
    if (fd < 0) return false;
    if (fresh) return true;  // a request posted before the bell existed did not ring it
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(realTimeout.count())) > 0) {
        char drain[64];
        while (::read(fd, drain, sizeof drain) > 0) {
        }
    }
    return true;
}

void WakeAutomationWait() { OwnBell().Wake(); }

bool PublishControl(HWND hwnd, std::string_view name, std::wstring_view text, bool visible) {
    return Db().Exec("INSERT OR REPLACE INTO window_controls(hwnd, name, text, visible) "
                     "SELECT hwnd, ?, ?, ? FROM windows WHERE hwnd=?",
                     {std::string(name), ToUtf8(text), std::int64_t{visible ? 1 : 0}, H(hwnd)});
}

std::optional<ControlState> ReadControl(HWND hwnd, std::string_view name) {
    std::optional<ControlState> out;
    Db().Exec("SELECT name, text, visible FROM window_controls WHERE hwnd=? AND name=?", {H(hwnd), std::string(name)},
              [&](sqlite3_stmt* s) {
                  out = ControlState{sim::ColumnText(s, 0), FromUtf8(sim::ColumnText(s, 1)), sqlite3_column_int(s, 2) != 0};
              });
    return out;
}

std::vector<ControlState> ListControls(HWND hwnd) {
    std::vector<ControlState> out;
    Db().Exec("SELECT name, text, visible FROM window_controls WHERE hwnd=? ORDER BY name", {H(hwnd)},
              [&](sqlite3_stmt* s) {
                  out.push_back({sim::ColumnText(s, 0), FromUtf8(sim::ColumnText(s, 1)), sqlite3_column_int(s, 2) != 0});
              });
    return out;
}

std::int64_t PostAutomationRequest(HWND hwnd, std::string_view verb, std::string_view arg, std::int64_t wParam,
                                   std::int64_t lParam) {
    auto& db = Db();
    std::int64_t id = 0;
    DWORD owner = 0;
    db.Transaction([&] {
        auto pid = db.QueryInt("SELECT pid FROM windows WHERE hwnd=? AND special=0", {H(hwnd)});
        if (!pid) return false;
        if (!db.Exec("INSERT INTO automation_requests(hwnd, pid, verb, arg, wparam, lparam) VALUES(?,?,?,?,?,?)",
                     {H(hwnd), *pid, std::string(verb), std::string(arg), wParam, lParam})) {
            return false;
        }
        id = db.LastInsertId();
        owner = static_cast<DWORD>(*pid);
        return true;
    });
    if (id) Ring(BellPath(owner));
    return id;
}

std::vector<AutomationRequest> TakeAutomationRequests(DWORD pid) {
    auto& db = Db();
    std::vector<AutomationRequest> out;
    db.Transaction([&] {
        out.clear();
        const bool read = db.Exec("SELECT id, hwnd, verb, arg, wparam, lparam FROM automation_requests "
                                  "WHERE pid=? AND state=? ORDER BY id",
                                  {std::int64_t{pid}, kWaiting}, [&](sqlite3_stmt* s) {
                                      out.push_back({sqlite3_column_int64(s, 0),
                                                     static_cast<HWND>(sqlite3_column_int64(s, 1)),
                                                     sim::ColumnText(s, 2), sim::ColumnText(s, 3),
                                                     sqlite3_column_int64(s, 4), sqlite3_column_int64(s, 5)});
                                  });
        if (!read) return false;
        if (out.empty()) return true;
        return db.Exec("UPDATE automation_requests SET state=? WHERE pid=? AND state=? AND id<=?",
                       {kTaken, std::int64_t{pid}, kWaiting, out.back().id});
    });
    return out;
}

bool FinishAutomationRequest(std::int64_t id, bool ok, std::int64_t value) {
    auto& db = Db();
    db.Exec("UPDATE automation_requests SET state=?, ok=?, value=? WHERE id=?",
            {kFinished, std::int64_t{ok ? 1 : 0}, value, id});
    return db.Changes() > 0;
}

std::optional<AutomationResult> ReadAutomationResult(std::int64_t id) {
    auto& db = Db();
    std::optional<AutomationResult> out;
    db.Exec("SELECT state, ok, value FROM automation_requests WHERE id=?", {id}, [&](sqlite3_stmt* s) {
        out = AutomationResult{sqlite3_column_int64(s, 0) == kFinished, sqlite3_column_int(s, 1) != 0,
                               sqlite3_column_int64(s, 2)};
    });
    if (out && out->done) db.Exec("DELETE FROM automation_requests WHERE id=?", {id});
    return out;
}

}  // namespace plat
