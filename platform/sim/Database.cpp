#include "kva/platform/Database.h"

#include <sqlite3.h>

#include "kva/platform/Machine.h"

namespace plat {

sqlite3* OpenDatabase(const std::filesystem::path& file, const std::string& schema, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        if (error) *error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kDatabaseBusyMs);
    const std::string setup = "PRAGMA journal_mode=WAL;" + schema;
    char* err = nullptr;
    if (sqlite3_exec(db, setup.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        if (error) *error = err ? err : "cannot prepare the database";
        sqlite3_free(err);
        sqlite3_close_v2(db);
        return nullptr;
    }
    return db;
}

CStateDatabase::CStateDatabase(std::string fileName, std::string schema)
    : m_fileName(std::move(fileName)), m_schema(std::move(schema)) {}

CStateDatabase::~CStateDatabase() { sqlite3_close_v2(m_db); }

sqlite3* CStateDatabase::Get(std::string* error) {
    const auto state = StateFolder();
    if (m_db && m_folder == state) return m_db;
    sqlite3_close_v2(m_db);
    m_folder = state;
    m_db = OpenDatabase(state / m_fileName, m_schema, error);
    return m_db;
}

}  // namespace plat
