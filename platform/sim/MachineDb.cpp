#include "MachineDb.h"

#include <cstdlib>
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

bool CMachineDb::Exec(const char* sql, const std::vector<DbValue>& params,
                      const std::function<void(sqlite3_stmt*)>& row) {
    std::lock_guard lock(m_mtx);
    if (!m_db) return false;
    bool cached = false;
    sqlite3_stmt* stmt = Prepare(sql, &cached);
    if (!stmt) return false;
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
    try {
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (row) row(stmt);
        }
    } catch (...) {
        Release(sql, stmt, cached);
        throw;
    }
    Release(sql, stmt, cached);
    return rc == SQLITE_DONE;
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
    bool ok = false;
    try {
        ok = body();
    } catch (...) {
        ok = false;
    }
    if (ok) ok = Exec("COMMIT");
    if (!ok) Exec("ROLLBACK");
    return ok;
}

}  // namespace plat::sim
