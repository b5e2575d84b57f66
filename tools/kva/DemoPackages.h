// What `kva demo` shows of the driver work of the host's service: each package as the service
// sorts it (forced, idle or offered in the notice) and moves it on (downloading with a progress
// bar, its size and rate, downloaded, installing), and at the end a table of every package, its
// table, its state and its file. Reads the service's tables view (driver_update/PackageTablesView.h)
// and the download folders; one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

namespace kva {

// Not in a package table: offered in the notice only.
inline constexpr int kOfferedOnly = -1;

// One line of the demo's story: who (a package id, "suite", "restart" ...), the package's name in a
// column of its own (none when empty), then what happened.
void StoryLine(std::ostream& out, const std::string& who, const std::string& name, const std::string& text);

// "3.0 MB", "512 KB", "80 bytes".
std::string SizeText(std::uint64_t bytes);
// "[########............]" for 0..100.
std::string ProgressBar(int percent, int width = 20);

class CDemoPackages {
public:
    // Prints what changed since the last call.
    void Poll(std::ostream& out);
    void PrintTable(std::ostream& out) const;
    // The id of the package of that name, or empty.
    std::string IdOf(const std::string& name) const;
    const std::string& NameOf(const std::string& id) const;
    template <class F>
    void ForEach(F f) const {
        for (const auto& [id, p] : m_packages) f(id, p.name);
    }

private:
    using Clock = std::chrono::steady_clock;
    struct CPackage {
        std::string table;  // "forced", "idle" or "notice"
        std::string name, next, installFile;
        std::uint64_t size = 0;
        int state = kOfferedOnly;
        int quarter = 0;                 // progress lines shown: 25 %, 50 %, 75 %
        Clock::time_point downloadFrom;  // when it was first seen downloading
        std::uint64_t bytesAtStart = 0;  // a resumed download starts with some
    };
    bool Load(std::map<std::string, CPackage>* now) const;
    std::uint64_t PartBytes(const std::string& id, const CPackage& p) const;
    void SayMove(std::ostream& out, const std::string& id, CPackage& p, const CPackage* before) const;
    void SayProgress(std::ostream& out, const std::string& id, CPackage& p) const;

    std::map<std::string, CPackage> m_packages;
};

// "downloading", "downloaded", ... for a package-table state (or kOfferedOnly).
const char* PackageStateName(int state);

}  // namespace kva
