// What `kva demo` shows of the driver work of the host's service: each package as the service
// sorts it (forced, idle or offered in the notice), a live line while it downloads (the bytes of
// its part file against its size), and at the end a table of every package, its table, its state
// and its file. Reads the service's tables view (driver_update/PackageTablesView.h) and the
// download folders; one thread.
#pragma once

#include <map>
#include <ostream>
#include <string>

namespace kva {

// Not in a package table: offered in the notice only.
inline constexpr int kOfferedOnly = -1;

class CDemoPackages {
public:
    // Prints what changed since the last call.
    void Poll(std::ostream& out);
    void PrintTable(std::ostream& out) const;

private:
    struct CPackage {
        std::string table;  // "forced", "idle" or "notice"
        std::string name, next, installFile;
        std::uint64_t size = 0;
        int state = kOfferedOnly;
        int percent = -1;   // last progress shown
    };
    bool Load(std::map<std::string, CPackage>* now) const;
    int Progress(const std::string& id, const CPackage& p) const;

    std::map<std::string, CPackage> m_packages;
};

// "downloading", "downloaded", ... for a package-table state (or kOfferedOnly).
const char* PackageStateName(int state);

}  // namespace kva
