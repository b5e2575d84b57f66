// One way to open the SQLite databases that several processes of the suite share (the machine,
// the update history, data events, the data manager): a serialized connection, the write-ahead
// log so that readers never block the writer, and one busy time-out for them all.
#pragma once

#include <filesystem>
#include <string>

struct sqlite3;

namespace plat {

// How long a connection waits for another process's write to end.
inline constexpr int kDatabaseBusyMs = 10000;

// Opens (creating it and its folder) `file` and runs `schema` (statements, may be empty). nullptr
// with the reason in `error` on failure. The caller closes the connection with sqlite3_close_v2.
sqlite3* OpenDatabase(const std::filesystem::path& file, const std::string& schema, std::string* error);

// One database file in the current machine's state folder, opened on first use and opened anew
// when the process moves to another machine (tests do). One owner thread at a time: the owner's
// lock guards it.
class CStateDatabase {
public:
    CStateDatabase(std::string fileName, std::string schema);
    CStateDatabase(const CStateDatabase&) = delete;
    CStateDatabase& operator=(const CStateDatabase&) = delete;
    ~CStateDatabase();

    // The connection to the current machine's file; nullptr with the reason in `error`.
    sqlite3* Get(std::string* error);

private:
    std::string m_fileName, m_schema;
    std::filesystem::path m_folder;
    sqlite3* m_db = nullptr;
};

}  // namespace plat
