#include "DataReport/BIDataReport.h"

#include <sqlite3.h>

#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

#include "kva/platform/Clock.h"
#include "kva/platform/Database.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Desktop.h"

namespace {

const char* const kInsertEvent = "INSERT INTO events(event, vals, wall_ms, pid) VALUES(?,?,?,?)";

}  // namespace

struct CBIDataReport::Impl {
    std::mutex mtx;
    // WAL with synchronous=NORMAL: a commit is in the log before Report returns, so a killed
    // process loses nothing; only the flush to the disk is left to the checkpoint, instead of one
    // per event (a check can report thousands).
    plat::CStateDatabase events{"dataevents.db",
                                "PRAGMA synchronous=NORMAL;"
                                "CREATE TABLE IF NOT EXISTS events(seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                                " event INTEGER NOT NULL, vals TEXT NOT NULL, wall_ms INTEGER NOT NULL,"
                                " pid INTEGER NOT NULL);"
                                "CREATE INDEX IF NOT EXISTS events_by_id ON events(event, seq);"};
    std::map<std::uint64_t, std::int64_t> starts;
    // The insert, prepared once per connection (a new machine opens a new one).
    sqlite3_stmt* insert = nullptr;
    sqlite3* insertDb = nullptr;

    ~Impl() { sqlite3_finalize(insert); }

    // REQUIRES: mtx held. The database of the current machine.
    sqlite3* Db() {
        std::string error;
        sqlite3* db = events.Get(&error);
        if (!db) KVA_LOG_ERROR("cannot open the data events in " << plat::StateFolder().string() << ": " << error);
        return db;
    }

    // REQUIRES: mtx held. A connection that was closed is kept by SQLite until its statements are
    // finalized, so a new one never has the old one's address.
    sqlite3_stmt* Insert(sqlite3* db) {
        if (insert && insertDb == db) return insert;
        sqlite3_finalize(insert);
        insert = nullptr;
        insertDb = db;
        if (sqlite3_prepare_v3(db, kInsertEvent, -1, SQLITE_PREPARE_PERSISTENT, &insert, nullptr) != SQLITE_OK) {
            sqlite3_finalize(insert);
            insert = nullptr;
        }
        return insert;
    }
};

CBIDataReport* CBIDataReport::GetInstance() { return &TheInstance(); }

bool CBIDataReport::Report(std::int64_t eventId, const std::vector<std::string>& values) {
    // Values are the suite's own text; invalid UTF-8 is replaced rather than refused.
    const std::string vals = nlohmann::json(values).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const std::int64_t wall = plat::CClock::Get().WallMs();
    std::lock_guard lock(m_impl->mtx);
    sqlite3* db = m_impl->Db();
    if (!db) return false;
    sqlite3_stmt* stmt = m_impl->Insert(db);
    if (!stmt) {
        KVA_LOG_ERROR("event " << eventId << " not stored: " << sqlite3_errmsg(db));
        return false;
    }
    sqlite3_bind_int64(stmt, 1, eventId);
    sqlite3_bind_text(stmt, 2, vals.c_str(), static_cast<int>(vals.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 3, wall);
    sqlite3_bind_int64(stmt, 4, static_cast<std::int64_t>(plat::CurrentProcessId()));
    const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
    if (!ok) KVA_LOG_ERROR("event " << eventId << " not stored: " << sqlite3_errmsg(db));
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return ok;
}

void CBIDataReport::SetReportTypeStartTime(std::uint64_t key, std::int64_t performanceCounter) {
    std::lock_guard lock(m_impl->mtx);
    m_impl->starts[key] = performanceCounter;
}

bool CBIDataReport::GetReportTypeDeltaTime(std::uint64_t key, double& elapsedMs) {
    const std::int64_t now = plat::CClock::Get().PerformanceCounter();
    std::lock_guard lock(m_impl->mtx);
    auto it = m_impl->starts.find(key);
    if (it == m_impl->starts.end()) return false;
    elapsedMs = static_cast<double>(now - it->second) * 1000.0 / plat::CClock::PerformanceFrequency();
    m_impl->starts.erase(it);
    return true;
}

std::vector<DataEventRecord> CBIDataReport::Events(std::optional<std::int64_t> eventId, std::int64_t afterSeq) {
    std::vector<DataEventRecord> out;
    std::lock_guard lock(m_impl->mtx);
    sqlite3* db = m_impl->Db();
    if (!db) return out;
    sqlite3_stmt* stmt = nullptr;
    const char* sql = eventId ? "SELECT seq, event, vals, wall_ms, pid FROM events WHERE seq > ? AND event = ? ORDER BY seq"
                              : "SELECT seq, event, vals, wall_ms, pid FROM events WHERE seq > ? ORDER BY seq";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return out;
    sqlite3_bind_int64(stmt, 1, afterSeq);
    if (eventId) sqlite3_bind_int64(stmt, 2, *eventId);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        DataEventRecord r;
        r.seq = sqlite3_column_int64(stmt, 0);
        r.eventId = sqlite3_column_int64(stmt, 1);
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
        auto parsed = nlohmann::json::parse(text ? text : "[]", nullptr, false);
        if (parsed.is_array()) {
            for (const auto& v : parsed) r.values.push_back(v.is_string() ? v.get<std::string>() : v.dump());
        }
        r.wallMs = sqlite3_column_int64(stmt, 3);
        r.pid = sqlite3_column_int64(stmt, 4);
        out.push_back(std::move(r));
    }
    sqlite3_finalize(stmt);
    return out;
}
