// The suite's data manager: tables of rows of loosely typed values, kept in SQLite
// ("datamanager.db" in the state folder) and shared by every process of the suite.
//
// A row is a vector of `linb::any` holding std::int64_t (or int), double, std::string or
// std::vector<std::uint8_t>. A table is created by its first Put, with as many columns as that row.
// Thread-safe.
#pragma once

#include <any>
#include <string>
#include <vector>

#include "Util/Singleton.h"

namespace linb {
using std::any;
using std::any_cast;
}  // namespace linb

class DataManager : public suite::CSingleton<DataManager> {
public:
    using Row = std::vector<linb::any>;

    static DataManager* Instance();

    // Runs a read-only query ("select * from TABLE_DRIVER_HISTORY"). `order` 1 returns rows in the
    // order they were stored, 0 in the newest-first order. A table that was never written reads
    // as empty. False when the query is not a valid SELECT.
    bool Get(const std::string& query, int order, std::vector<Row>& rows);
    // Appends a row. False when a value has an unsupported type or the row does not fit the table.
    bool Put(const std::string& table, const Row& row);

    struct Impl;

private:
    suite::CPimpl<Impl> m_impl;
};
