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

}  // namespace plat
