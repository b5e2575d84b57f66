#include "MachineDb.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "kva/platform/Database.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"

namespace plat::sim {
namespace {

std::mutex g_openMutex;
std::unique_ptr<CMachineDb> g_current;

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS facts(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS reg_keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT, hive INTEGER NOT NULL, path TEXT NOT NULL,
  lpath TEXT NOT NULL, volatile_boot TEXT, UNIQUE(hive, lpath));
CREATE TABLE IF NOT EXISTS reg_values(
  key_id INTEGER NOT NULL REFERENCES reg_keys(id) ON DELETE CASCADE, name TEXT NOT NULL,
  lname TEXT NOT NULL, type INTEGER NOT NULL, dword INTEGER, text TEXT,
  PRIMARY KEY(key_id, lname));
CREATE TABLE IF NOT EXISTS processes(pid INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS windows(
  hwnd INTEGER PRIMARY KEY AUTOINCREMENT, class TEXT NOT NULL, title TEXT NOT NULL,
  visible INTEGER NOT NULL, l INTEGER, t INTEGER, r INTEGER, b INTEGER, pid INTEGER NOT NULL,
  z INTEGER NOT NULL, special INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS window_props(
  hwnd INTEGER NOT NULL REFERENCES windows(hwnd) ON DELETE CASCADE, name TEXT NOT NULL,
  value INTEGER NOT NULL, PRIMARY KEY(hwnd, name));
)SQL";

// Enough for every registry value a check reads several times over; past it everything is dropped.
constexpr std::size_t kMaxKeptQueries = 1 << 16;

// A statement that changes rows: not a read, and not one that only opens or ends a transaction
// (SQLite counts BEGIN IMMEDIATE as a write) or sets the connection up.
bool ChangesRows(sqlite3_stmt* stmt, const char* sql) {
    if (sqlite3_stmt_readonly(stmt)) return false;
    for (const char* control : {"BEGIN", "COMMIT", "END", "ROLLBACK", "SAVEPOINT", "RELEASE", "PRAGMA"}) {
        if (sqlite3_strnicmp(sql, control, static_cast<int>(std::strlen(control))) == 0) return false;
    }
    return true;
}

// Parameters in a form that cannot be mistaken for another list: strings carry their length.
std::string KeyOf(const char* sql, const std::vector<DbValue>& params) {
    std::string key(sql);
    for (const DbValue& p : params) {
        key += '\x1f';
        if (auto* n = std::get_if<std::int64_t>(&p)) {
            key += 'i';
            key += std::to_string(*n);
        } else if (auto* s = std::get_if<std::string>(&p)) {
            key += 's';
            key += std::to_string(s->size());
            key += ':';
            key += *s;
        } else {
            key += 'n';
        }
    }
    return key;
}

DbRow RowOf(sqlite3_stmt* stmt) {
    DbRow row;
    const int n = sqlite3_column_count(stmt);
    row.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER: row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(stmt, i))); break;
        case SQLITE_NULL: row.emplace_back(nullptr); break;
        default: row.emplace_back(ColumnText(stmt, i)); break;
        }
    }
    return row;
}

std::string RandomSidPart(std::mt19937_64& rng) {
    return std::to_string(static_cast<std::uint32_t>(rng() % 4000000000u) + 100000000u);
}

}  // namespace

std::string ColumnText(sqlite3_stmt* stmt, int col) {
    const unsigned char* text = sqlite3_column_text(stmt, col);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

CMachineDb& CMachineDb::Current() {
    std::lock_guard lock(g_openMutex);
    if (!g_current) {
        g_current.reset(new CMachineDb());
        const char* env = std::getenv("KVA_STATE");
        std::filesystem::path folder = env && *env ? std::filesystem::path(env) : DefaultStateFolder();
        if (!g_current->OpenFile(folder)) {
            KVA_LOG_ERROR("cannot open the machine database in " << folder.string());
        }
    }
    return *g_current;
}

bool CMachineDb::Open(const std::filesystem::path& stateFolder) {
    std::unique_ptr<CMachineDb> db(new CMachineDb());
    if (!db->OpenFile(stateFolder)) return false;
    std::lock_guard lock(g_openMutex);
    // The old machine is kept alive until exit: another thread may still be inside a call on it.
    static std::vector<std::unique_ptr<CMachineDb>> retired;
    if (g_current) retired.push_back(std::move(g_current));
    g_current = std::move(db);
    return true;
}

CMachineDb::~CMachineDb() {
    for (auto& [sql, st] : m_statements) sqlite3_finalize(st.stmt);
    if (m_db) sqlite3_close_v2(m_db);
}

bool CMachineDb::OpenFile(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    m_folder = std::filesystem::absolute(folder, ec);
    m_db = OpenDatabase(m_folder / "machine.db", "", nullptr);
    if (!m_db) return false;
    if (!m_changes.Open(m_folder / "machine.db-changes")) {
        KVA_LOG_WARN("machine reads are not kept between calls: cannot map the change counter in "
                     << m_folder.string());
    }
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
    return CreateSchema();
}

bool CMachineDb::CreateSchema() {
    char* err = nullptr;
    if (sqlite3_exec(m_db, kSchema, nullptr, nullptr, &err) != SQLITE_OK) {
        sqlite3_free(err);
        return false;
    }
    return Transaction([this] {
        if (QueryText("SELECT value FROM meta WHERE name='sid'")) return true;
        std::mt19937_64 rng(std::random_device{}());
        std::string sid = "S-1-5-21-" + RandomSidPart(rng) + "-" + RandomSidPart(rng) + "-" +
                          RandomSidPart(rng) + "-1001";
        // Simulated pids start far above real ones so the two never meet.
        return Exec("INSERT INTO meta(name, value) VALUES('sid', ?)", {sid}) &&
               Exec("INSERT OR IGNORE INTO sqlite_sequence(name, seq) VALUES('processes', 1073741824)") &&
               Exec("INSERT OR IGNORE INTO sqlite_sequence(name, seq) VALUES('windows', 65536)");
    });
}

sqlite3_stmt* CMachineDb::Prepare(const char* sql, bool* cached) {
    // A statement is parsed once per connection and reused; a statement already stepping (a row
    // callback running the same query again) gets a one-off copy.
    auto it = m_statements.find(sql);
    if (it != m_statements.end() && !it->second.busy) {
        it->second.busy = true;
        *cached = true;
        return it->second.stmt;
    }
    sqlite3_stmt* stmt = nullptr;
    const bool keep = it == m_statements.end();
    if (sqlite3_prepare_v3(m_db, sql, -1, keep ? SQLITE_PREPARE_PERSISTENT : 0, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    // Only single statements are kept: sqlite3_prepare stops at the first one of a script.
    *cached = keep;
    if (keep) m_statements.emplace(sql, CStatement{stmt, true});
    return stmt;
}

void CMachineDb::Release(const char* sql, sqlite3_stmt* stmt, bool cached) {
    if (!cached) {
        sqlite3_finalize(stmt);
        return;
    }
    // Reset ends the statement's read transaction, so the connection holds no lock between calls.
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    m_statements[sql].busy = false;
}

bool CMachineDb::Step(sqlite3_stmt* stmt, const std::vector<DbValue>& params,
                      const std::function<void(sqlite3_stmt*)>& row) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        const int idx = static_cast<int>(i) + 1;
        if (auto* n = std::get_if<std::int64_t>(&params[i])) {
            sqlite3_bind_int64(stmt, idx, *n);
        } else if (auto* s = std::get_if<std::string>(&params[i])) {
            sqlite3_bind_text(stmt, idx, s->c_str(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_null(stmt, idx);
        }
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (row) row(stmt);
    }
    return rc == SQLITE_DONE;
}

bool CMachineDb::Exec(const char* sql, const std::vector<DbValue>& params,
                      const std::function<void(sqlite3_stmt*)>& row) {
    std::lock_guard lock(m_mtx);
    if (!m_db) return false;
    bool cached = false;
    sqlite3_stmt* stmt = Prepare(sql, &cached);
    if (!stmt) return false;
    // A write on its own gets a transaction of its own, so that the change counter brackets it.
    if (sqlite3_get_autocommit(m_db) && ChangesRows(stmt, sql)) {
        Release(sql, stmt, cached);
        return Transaction([&] { return Exec(sql, params, row); });
    }
    bool ok = false;
    try {
        ok = Step(stmt, params, row);
    } catch (...) {
        Release(sql, stmt, cached);
        throw;
    }
    Release(sql, stmt, cached);
    return ok;
}

DbRows CMachineDb::ReadRows(const char* sql, const std::vector<DbValue>& params) {
    std::lock_guard lock(m_mtx);
    // Odd (a write in progress, perhaps this thread's own transaction) or unmapped: read, keep nothing.
    const std::optional<std::uint64_t> version = m_changes.Stable();
    std::string key;
    if (version) {
        if (*version != m_rowsVersion) {
            m_rows.clear();
            m_rowsVersion = *version;
        }
        key = KeyOf(sql, params);
        if (auto it = m_rows.find(key); it != m_rows.end()) return it->second;
    }
    auto rows = std::make_shared<std::vector<DbRow>>();
    const bool ok = Exec(sql, params, [&](sqlite3_stmt* s) { rows->push_back(RowOf(s)); });
    // Kept only when no write began while the query ran: then the rows are those of `version`.
    if (ok && version && m_changes.Stable() == version) {
        if (m_rows.size() >= kMaxKeptQueries) m_rows.clear();
        m_rows.emplace(std::move(key), rows);
    }
    return rows;
}

std::optional<std::int64_t> CMachineDb::QueryInt(const char* sql, const std::vector<DbValue>& params) {
    std::optional<std::int64_t> out;
    Exec(sql, params, [&](sqlite3_stmt* s) {
        if (!out && sqlite3_column_type(s, 0) != SQLITE_NULL) out = sqlite3_column_int64(s, 0);
    });
    return out;
}

std::optional<std::string> CMachineDb::QueryText(const char* sql, const std::vector<DbValue>& params) {
    std::optional<std::string> out;
    Exec(sql, params, [&](sqlite3_stmt* s) {
        if (!out && sqlite3_column_type(s, 0) != SQLITE_NULL) out = ColumnText(s, 0);
    });
    return out;
}

std::optional<std::string> CMachineDb::ReadText(const char* sql, const std::vector<DbValue>& params) {
    const DbRows rows = ReadRows(sql, params);
    if (rows->empty() || (*rows)[0].empty()) return std::nullopt;
    const DbValue& v = (*rows)[0][0];
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* n = std::get_if<std::int64_t>(&v)) return std::to_string(*n);
    return std::nullopt;
}

std::int64_t CMachineDb::LastInsertId() {
    std::lock_guard lock(m_mtx);
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

int CMachineDb::Changes() {
    std::lock_guard lock(m_mtx);
    return m_db ? sqlite3_changes(m_db) : 0;
}

bool CMachineDb::Transaction(const std::function<bool()>& body) {
    std::lock_guard lock(m_mtx);
    if (!Exec("BEGIN IMMEDIATE")) return false;
    m_changes.BeginWrite();
    bool ok = false;
    try {
        ok = body();
    } catch (...) {
        ok = false;
    }
    if (ok) ok = Exec("COMMIT");
    if (!ok) Exec("ROLLBACK");
    m_changes.EndWrite();
    return ok;
}

}  // namespace plat::sim
