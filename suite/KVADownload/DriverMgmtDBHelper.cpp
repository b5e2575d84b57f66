#include "KVADownload/DriverMgmtDBHelper.h"

#include <sqlite3.h>

#include <memory>

#include "KVADownload/Folders.h"
#include "kva/platform/Database.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"

namespace {

using Db = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;
using Stmt = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

Db Open() {
    const auto file = plat::ToHostPath(GetAppDataFolder() + "\\DriverUpgrade\\UpdateHistory.db");
    const char* schema =
        "CREATE TABLE IF NOT EXISTS finished_update ("
        " row INTEGER PRIMARY KEY AUTOINCREMENT, driver_id TEXT NOT NULL, day_start_text TEXT, aux TEXT,"
        " file_size INTEGER, cur_version TEXT, next_version TEXT, day_start INTEGER);";
    std::string error;
    sqlite3* raw = plat::OpenDatabase(file, schema, &error);
    if (!raw) KVA_LOG_ERROR("cannot open the update history " << file.string() << ": " << error);
    return Db(raw, sqlite3_close_v2);
}

// The history database and one statement on it; false when either could not be had.
struct CQuery {
    Db db;
    Stmt stmt;
    explicit operator bool() const { return db && stmt; }
};

CQuery Query(const char* sql) {
    CQuery q{Open(), Stmt(nullptr, sqlite3_finalize)};
    if (!q.db) return q;
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(q.db.get(), sql, -1, &raw, nullptr);
    q.stmt.reset(raw);
    return q;
}

std::string Text(sqlite3_stmt* s, int col) {
    const auto* t = sqlite3_column_text(s, col);
    return t ? reinterpret_cast<const char*>(t) : "";
}

}  // namespace

DriverMgmtDBHelper* DriverMgmtDBHelper::GetInstance() {
    static DriverMgmtDBHelper instance;
    return &instance;
}

bool DriverMgmtDBHelper::InsertFinishedUpdateItems(finished_update_package& item) {
    const CQuery q = Query(
        "INSERT INTO finished_update (driver_id, day_start_text, aux, file_size, cur_version, next_version,"
        " day_start) VALUES (?,?,?,?,?,?,?)");
    if (!q) return false;
    sqlite3_stmt* raw = q.stmt.get();
    sqlite3_bind_text(raw, 1, item.strDriverID.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 2, item.strDayStart.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 3, item.strAux.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(raw, 4, item.FileSize);
    sqlite3_bind_text(raw, 5, item.strCurVersion.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 6, item.strNextVersion.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(raw, 7, item.dayStart);
    if (sqlite3_step(raw) != SQLITE_DONE) {
        KVA_LOG_ERROR("cannot record the update of driver id " << item.strDriverID << ": "
                                                               << sqlite3_errmsg(q.db.get()));
        return false;
    }
    return true;
}

std::vector<finished_update_package> DriverMgmtDBHelper::GetFinishedUpdateItems(int limit) {
    std::vector<finished_update_package> rows;
    const CQuery q = Query(
        "SELECT driver_id, day_start_text, aux, file_size, cur_version, next_version, day_start"
        " FROM finished_update ORDER BY row DESC LIMIT ?");
    if (!q) return rows;
    sqlite3_stmt* raw = q.stmt.get();
    sqlite3_bind_int(raw, 1, limit);
    while (sqlite3_step(raw) == SQLITE_ROW) {
        finished_update_package r;
        r.strDriverID = Text(raw, 0);
        r.strDayStart = Text(raw, 1);
        r.strAux = Text(raw, 2);
        r.FileSize = sqlite3_column_int64(raw, 3);
        r.strCurVersion = Text(raw, 4);
        r.strNextVersion = Text(raw, 5);
        r.dayStart = sqlite3_column_int64(raw, 6);
        rows.push_back(std::move(r));
    }
    return rows;
}
