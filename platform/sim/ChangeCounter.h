// A change counter shared by every process that opens one machine: eight bytes in a small file
// beside the machine database, mapped into each process. It lets a process keep what it read from
// the database until some process writes again, without asking SQLite (a read transaction, with
// its file locks) on every read.
//
// Writers move it only while they hold the database's write lock, so one writer at a time: odd
// while a write is in progress, even again once it is committed or rolled back. A writer killed in
// the middle leaves it odd, which only turns keeping off until the next write completes.
// Internal to the sim backend.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace plat::sim {

class CChangeCounter {
public:
    CChangeCounter() = default;
    ~CChangeCounter();

    // Maps `file`, creating it when absent. False leaves the counter unmapped: Stable() is then
    // always empty and the callers read the database every time.
    bool Open(const std::filesystem::path& file);

    // The current value when no write is in progress anywhere; empty while one is, or when unmapped.
    std::optional<std::uint64_t> Stable() const;

    // REQUIRES: the database's write lock is held from BeginWrite to EndWrite.
    void BeginWrite();
    void EndWrite();

    // One mapping per counter: it is unmapped once.
    CChangeCounter(const CChangeCounter&) = delete;
    CChangeCounter& operator=(const CChangeCounter&) = delete;

private:
    std::uint64_t* m_word = nullptr;
};

}  // namespace plat::sim
