#include "Util/DataManager.h"

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <regex>

#include "kva/platform/Database.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"

namespace {

bool ValidTableName(const std::string& t) {
    static const std::regex kName("^[A-Za-z_][A-Za-z0-9_]{0,63}$");
    return std::regex_match(t, kName);
}

bool Bind(sqlite3_stmt* stmt, int idx, const linb::any& v) {
    if (auto* i = std::any_cast<std::int64_t>(&v)) return sqlite3_bind_int64(stmt, idx, *i) == SQLITE_OK;
    if (auto* i = std::any_cast<int>(&v)) return sqlite3_bind_int64(stmt, idx, *i) == SQLITE_OK;
    if (auto* d = std::any_cast<double>(&v)) return sqlite3_bind_double(stmt, idx, *d) == SQLITE_OK;
    if (auto* s = std::any_cast<std::string>(&v)) {
        return sqlite3_bind_text(stmt, idx, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    if (auto* b = std::any_cast<std::vector<std::uint8_t>>(&v)) {
        return sqlite3_bind_blob(stmt, idx, b->data(), static_cast<int>(b->size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    return false;
}

linb::any Column(sqlite3_stmt* stmt, int col) {
    switch (sqlite3_column_type(stmt, col)) {
        case SQLITE_INTEGER: return std::int64_t{sqlite3_column_int64(stmt, col)};
        case SQLITE_FLOAT: return sqlite3_column_double(stmt, col);
        case SQLITE_TEXT: return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, col)));
        case SQLITE_BLOB: {
            const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, col));
            return std::vector<std::uint8_t>(p, p + sqlite3_column_bytes(stmt, col));
        }
        default: return {};
    }
}

int TableWidth(sqlite3* db, const std::string& table) {
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = "SELECT * FROM " + table + " LIMIT 0";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return -1;
    const int n = sqlite3_column_count(stmt);
    sqlite3_finalize(stmt);
    return n;
}

}  // namespace

struct DataManager::Impl {
    std::mutex mtx;
    plat::CStateDatabase store{"datamanager.db", ""};

    // REQUIRES: mtx held. The database of the current machine.
    sqlite3* Db() {
        std::string error;
        sqlite3* db = store.Get(&error);
        if (!db)
            KVA_LOG_ERROR("cannot open the data manager database in " << plat::StateFolder().string() << ": " << error);
        return db;
    }
};

DataManager* DataManager::Instance() { return &TheInstance(); }

bool DataManager::Put(const std::string& table, const Row& row) {
    if (!ValidTableName(table) || row.empty()) return false;
    std::lock_guard lock(m_impl->mtx);
    sqlite3* db = m_impl->Db();
    if (!db) return false;
    std::string columns, marks;
    for (std::size_t i = 0; i < row.size(); ++i) {
        columns += (i ? ", c" : "c") + std::to_string(i + 1);
        marks += i ? ", ?" : "?";
    }
    const std::string create = "CREATE TABLE IF NOT EXISTS " + table + " (" + columns + ")";
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;
    if (const int width = TableWidth(db, table); width != static_cast<int>(row.size())) {
        KVA_LOG_ERROR("a row of " << row.size() << " values does not fit " << table << " of " << width);
        return false;
    }
    const std::string insert = "INSERT INTO " + table + " (" + columns + ") VALUES (" + marks + ")";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        KVA_LOG_ERROR("row does not fit " << table << ": " << sqlite3_errmsg(db));
        return false;
    }
    bool ok = true;
    for (std::size_t i = 0; ok && i < row.size(); ++i) ok = Bind(stmt, static_cast<int>(i) + 1, row[i]);
    ok = ok && sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_finalize(stmt);
    return ok;
}

bool DataManager::Get(const std::string& query, int order, std::vector<Row>& rows) {
    rows.clear();
    static const std::regex kSelect(R"(^\s*select\s+\*\s+from\s+([A-Za-z_][A-Za-z0-9_]*)\s*;?\s*$)", std::regex::icase);
    std::smatch m;
    if (!std::regex_match(query, m, kSelect)) return false;
    std::lock_guard lock(m_impl->mtx);
    sqlite3* db = m_impl->Db();
    if (!db) return false;
    const std::string sql = "SELECT * FROM " + m[1].str() + " ORDER BY rowid" + (order == 1 ? "" : " DESC");
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return true;  // never written
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        Row row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) row.push_back(Column(stmt, c));
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return true;
}
