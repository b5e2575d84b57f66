// The simulated machine's database: one SQLite file in the state folder, opened by every process
// of the suite (WAL, busy time-out). Internal to the sim backend.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "ChangeCounter.h"

namespace plat::sim {

using DbValue = std::variant<std::nullptr_t, std::int64_t, std::string>;
using DbRow = std::vector<DbValue>;
using DbRows = std::shared_ptr<const std::vector<DbRow>>;

class CMachineDb {
public:
    // The process's current machine; opens the default one on first use.
    static CMachineDb& Current();
    static bool Open(const std::filesystem::path& stateFolder);

    const std::filesystem::path& Folder() const { return m_folder; }

    // Runs one statement with bound parameters; `row` is called for each result row.
    bool Exec(const char* sql, const std::vector<DbValue>& params = {},
              const std::function<void(sqlite3_stmt*)>& row = {});
    std::optional<std::int64_t> QueryInt(const char* sql, const std::vector<DbValue>& params = {});
    std::optional<std::string> QueryText(const char* sql, const std::vector<DbValue>& params = {});
    // A read-only query whose rows are kept in this process until any process writes the machine
    // (see CChangeCounter): the registry is read thousands of times a check and written rarely.
    // Integer columns come back as integers, NULL as nullptr, anything else as text.
    DbRows ReadRows(const char* sql, const std::vector<DbValue>& params = {});
    // The first row's first column of ReadRows as text (an integer in decimal).
    std::optional<std::string> ReadText(const char* sql, const std::vector<DbValue>& params = {});

    std::int64_t LastInsertId();
    int Changes();

    // Runs `body` inside one immediate transaction, so that read-modify-write sequences are
    // atomic across processes. `body` returns false to roll back. Every write runs in one: a
    // statement that writes outside a transaction is wrapped in its own.
    bool Transaction(const std::function<bool()>& body);

    // Process-wide lock for callers that keep state derived from the database.
    std::recursive_mutex& Mutex() { return m_mtx; }

    ~CMachineDb();

private:
    CMachineDb() = default;
    bool OpenFile(const std::filesystem::path& folder);
    bool CreateSchema();
    sqlite3_stmt* Prepare(const char* sql, bool* cached);
    void Release(const char* sql, sqlite3_stmt* stmt, bool cached);
    bool Step(sqlite3_stmt* stmt, const std::vector<DbValue>& params, const std::function<void(sqlite3_stmt*)>& row);

    struct CStatement {
        sqlite3_stmt* stmt = nullptr;
        bool busy = false;
    };

    std::recursive_mutex m_mtx;
    sqlite3* m_db = nullptr;
    std::filesystem::path m_folder;
    // Prepared statements by their text; only touched under m_mtx.
    std::unordered_map<std::string, CStatement> m_statements;
    CChangeCounter m_changes;
    // ReadRows' answers by query and parameters, valid while m_changes stays at m_rowsVersion.
    std::unordered_map<std::string, DbRows> m_rows;
    std::uint64_t m_rowsVersion = 0;
};

std::string ColumnText(sqlite3_stmt* stmt, int col);

}  // namespace plat::sim
