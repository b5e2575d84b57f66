#include "kva/platform/Desktop.h"

#include <unistd.h>

#include "MachineDb.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Text.h"

namespace plat {

namespace {

// The two windows every desktop has, created lazily with fixed handles. Their `special` mark keeps
// the calls on ordinary windows away from them.
struct SpecialWindow {
    HWND hwnd;
    const char* windowClass;
    const char* title;
    const char* ownerExe;
    int z;
    int special;
};
constexpr SpecialWindow kDesktopWindow{0x10010, "#32769", "", "csrss.exe", -2, 1};
constexpr SpecialWindow kShellWindow{0x10020, "Progman", "Program Manager", "explorer.exe", -1, 2};
constexpr HWND kDesktopHwnd = kDesktopWindow.hwnd;
constexpr HWND kShellHwnd = kShellWindow.hwnd;

sim::CMachineDb& Db() { return sim::CMachineDb::Current(); }

Rect ScreenRect() {
    int w = 1920, h = 1080;
    if (auto s = GetOverride("screen")) std::sscanf(s->c_str(), "%dx%d", &w, &h);
    return Rect{0, 0, w, h};
}

DWORD SystemPid(const char* exe) {
    auto& db = Db();
    if (auto pid = db.QueryInt("SELECT pid FROM processes WHERE lower(name)=lower(?)", {std::string(exe)})) {
        return static_cast<DWORD>(*pid);
    }
    db.Exec("INSERT INTO processes(name) VALUES(?)", {std::string(exe)});
    return static_cast<DWORD>(db.LastInsertId());
}

void EnsureDesktop() {
    static thread_local sim::CMachineDb* ensured = nullptr;
    auto& db = Db();
    if (ensured == &db) return;
    db.Transaction([&] {
        if (db.QueryInt("SELECT hwnd FROM windows WHERE hwnd=?", {static_cast<std::int64_t>(kDesktopHwnd)})) {
            return true;
        }
        const Rect r = ScreenRect();
        for (const SpecialWindow& w : {kDesktopWindow, kShellWindow}) {
            const bool added =
                db.Exec("INSERT INTO windows(hwnd, class, title, visible, l, t, r, b, pid, z, special) "
                        "VALUES(?, ?, ?, 1, ?, ?, ?, ?, ?, ?, ?)",
                        {static_cast<std::int64_t>(w.hwnd), std::string(w.windowClass), std::string(w.title),
                         std::int64_t{r.left}, std::int64_t{r.top}, std::int64_t{r.right}, std::int64_t{r.bottom},
                         static_cast<std::int64_t>(SystemPid(w.ownerExe)), std::int64_t{w.z}, std::int64_t{w.special}});
            if (!added) return false;
        }
        return true;
    });
    ensured = &db;
}

WindowInfo RowToWindow(sqlite3_stmt* s) {
    WindowInfo w;
    w.hwnd = static_cast<HWND>(sqlite3_column_int64(s, 0));
    w.className = FromUtf8(sim::ColumnText(s, 1));
    w.title = FromUtf8(sim::ColumnText(s, 2));
    w.visible = sqlite3_column_int(s, 3) != 0;
    w.rect = Rect{sqlite3_column_int(s, 4), sqlite3_column_int(s, 5), sqlite3_column_int(s, 6),
                  sqlite3_column_int(s, 7)};
    w.processId = static_cast<DWORD>(sqlite3_column_int64(s, 8));
    return w;
}

constexpr const char* kWindowColumns = "hwnd, class, title, visible, l, t, r, b, pid";

}  // namespace

HWND CreateTopWindow(const WindowInfo& wanted) {
    EnsureDesktop();
    auto& db = Db();
    HWND hwnd = 0;
    db.Transaction([&] {
        const std::int64_t z = db.QueryInt("SELECT COALESCE(MAX(z), 0) + 1 FROM windows").value_or(1);
        const std::int64_t pid = wanted.processId ? wanted.processId : CurrentProcessId();
        if (!db.Exec("INSERT INTO windows(class, title, visible, l, t, r, b, pid, z) VALUES(?,?,?,?,?,?,?,?,?)",
                     {ToUtf8(wanted.className), ToUtf8(wanted.title), std::int64_t{wanted.visible ? 1 : 0},
                      std::int64_t{wanted.rect.left}, std::int64_t{wanted.rect.top}, std::int64_t{wanted.rect.right},
                      std::int64_t{wanted.rect.bottom}, pid, z})) {
            return false;
        }
        hwnd = static_cast<HWND>(db.LastInsertId());
        return true;
    });
    return hwnd;
}

bool DestroyTopWindow(HWND hwnd) {
    auto& db = Db();
    if (!db.Exec("DELETE FROM windows WHERE hwnd=? AND special=0", {static_cast<std::int64_t>(hwnd)})) return false;
    return db.Changes() > 0;
}

std::optional<WindowInfo> GetWindowInfo(HWND hwnd) {
    EnsureDesktop();
    std::optional<WindowInfo> out;
    const std::string sql = std::string("SELECT ") + kWindowColumns + " FROM windows WHERE hwnd=?";
    Db().Exec(sql.c_str(), {static_cast<std::int64_t>(hwnd)}, [&](sqlite3_stmt* s) { out = RowToWindow(s); });
    return out;
}

bool IsWindowAlive(HWND hwnd) { return hwnd && GetWindowInfo(hwnd).has_value(); }

bool IsWindowShown(HWND hwnd) {
    auto w = GetWindowInfo(hwnd);
    return w && w->visible;
}

bool ShowTopWindow(HWND hwnd, bool visible) {
    auto& db = Db();
    db.Exec("UPDATE windows SET visible=? WHERE hwnd=? AND special=0",
            {std::int64_t{visible ? 1 : 0}, static_cast<std::int64_t>(hwnd)});
    return db.Changes() > 0;
}

bool SetWindowRect(HWND hwnd, const Rect& r) {
    auto& db = Db();
    db.Exec("UPDATE windows SET l=?, t=?, r=?, b=? WHERE hwnd=? AND special=0",
            {std::int64_t{r.left}, std::int64_t{r.top}, std::int64_t{r.right}, std::int64_t{r.bottom},
             static_cast<std::int64_t>(hwnd)});
    return db.Changes() > 0;
}

bool SetWindowTitle(HWND hwnd, std::wstring_view title) {
    auto& db = Db();
    db.Exec("UPDATE windows SET title=? WHERE hwnd=?", {ToUtf8(title), static_cast<std::int64_t>(hwnd)});
    return db.Changes() > 0;
}

HWND FindTopWindow(std::wstring_view className, std::wstring_view title) {
    EnsureDesktop();
    std::optional<std::int64_t> h;
    if (title.empty()) {
        h = Db().QueryInt("SELECT hwnd FROM windows WHERE special<>1 AND lower(class)=lower(?) ORDER BY z DESC",
                          {ToUtf8(className)});
    } else if (className.empty()) {
        h = Db().QueryInt("SELECT hwnd FROM windows WHERE special<>1 AND title=? ORDER BY z DESC",
                          {ToUtf8(title)});
    } else {
        h = Db().QueryInt(
            "SELECT hwnd FROM windows WHERE special<>1 AND lower(class)=lower(?) AND title=? ORDER BY z DESC",
            {ToUtf8(className), ToUtf8(title)});
    }
    return h ? static_cast<HWND>(*h) : 0;
}

HWND WindowAtPoint(std::int32_t x, std::int32_t y) {
    EnsureDesktop();
    auto h = Db().QueryInt(
        "SELECT hwnd FROM windows WHERE special<>1 AND visible=1 AND ?>=l AND ?<r AND ?>=t AND ?<b "
        "ORDER BY z DESC",
        {std::int64_t{x}, std::int64_t{x}, std::int64_t{y}, std::int64_t{y}});
    return h ? static_cast<HWND>(*h) : 0;
}

DWORD GetWindowProcessId(HWND hwnd) {
    auto w = GetWindowInfo(hwnd);
    return w ? w->processId : 0;
}

HWND DesktopWindow() {
    EnsureDesktop();
    return kDesktopHwnd;
}

HWND ShellWindow() {
    EnsureDesktop();
    return kShellHwnd;
}

HWND ForegroundWindow() {
    EnsureDesktop();
    if (auto f = GetOverride("foreground")) {
        const HWND h = std::strtoull(f->c_str(), nullptr, 0);
        if (IsWindowAlive(h)) return h;
    }
    auto h = Db().QueryInt("SELECT hwnd FROM windows WHERE special=0 AND visible=1 ORDER BY z DESC");
    return h ? static_cast<HWND>(*h) : kShellHwnd;
}

bool SetForegroundWindow(HWND hwnd) {
    if (!IsWindowAlive(hwnd)) return false;
    auto& db = Db();
    return db.Transaction([&] {
        const std::int64_t z = db.QueryInt("SELECT COALESCE(MAX(z), 0) + 1 FROM windows").value_or(1);
        return db.Exec("UPDATE windows SET z=? WHERE hwnd=? AND special=0", {z, static_cast<std::int64_t>(hwnd)}) &&
               SetOverride("foreground", std::to_string(hwnd));
    });
}

bool SetWindowProperty(HWND hwnd, std::string_view name, std::int64_t value) {
    if (!IsWindowAlive(hwnd)) return false;
    return Db().Exec("INSERT OR REPLACE INTO window_props(hwnd, name, value) VALUES(?,?,?)",
                     {static_cast<std::int64_t>(hwnd), std::string(name), value});
}

std::optional<std::int64_t> GetWindowProperty(HWND hwnd, std::string_view name) {
    return Db().QueryInt("SELECT value FROM window_props WHERE hwnd=? AND name=?",
                         {static_cast<std::int64_t>(hwnd), std::string(name)});
}

std::vector<WindowInfo> ListWindows() {
    EnsureDesktop();
    std::vector<WindowInfo> out;
    const std::string sql = std::string("SELECT ") + kWindowColumns + " FROM windows ORDER BY z DESC";
    Db().Exec(sql.c_str(), {}, [&](sqlite3_stmt* s) { out.push_back(RowToWindow(s)); });
    return out;
}

DWORD CurrentProcessId() { return static_cast<DWORD>(getpid()); }

bool ProcessExists(std::wstring_view exeName) {
    EnsureDesktop();
    return Db().QueryInt("SELECT pid FROM processes WHERE lower(name)=lower(?)", {ToUtf8(exeName)}).has_value();
}

std::vector<ProcessInfo> ListProcesses() {
    EnsureDesktop();
    std::vector<ProcessInfo> out;
    Db().Exec("SELECT pid, name FROM processes ORDER BY pid", {}, [&](sqlite3_stmt* s) {
        out.push_back(ProcessInfo{static_cast<DWORD>(sqlite3_column_int64(s, 0)), FromUtf8(sim::ColumnText(s, 1))});
    });
    return out;
}

DWORD AddProcess(std::wstring_view exeName) {
    EnsureDesktop();
    auto& db = Db();
    std::lock_guard lock(db.Mutex());
    if (!db.Exec("INSERT INTO processes(name) VALUES(?)", {ToUtf8(exeName)})) return 0;
    return static_cast<DWORD>(db.LastInsertId());
}

bool RemoveProcess(std::wstring_view exeName) {
    auto& db = Db();
    std::lock_guard lock(db.Mutex());
    db.Exec("DELETE FROM processes WHERE lower(name)=lower(?)", {ToUtf8(exeName)});
    return db.Changes() > 0;
}

}  // namespace plat
