// A month of service time in a few minutes: `kva host` on a scaled clock against `kva serve`, with
// the suite's hub and peers answering, a check round every four hours and a new catalogue every
// third round. Once per simulated day it prints the host's resident memory, open files and
// threads, the rounds run so far and the size of the machine's databases (with their write-ahead
// logs) beside the rows they hold. It fails when a day misses its rounds or the memory grew by
// 1 MiB or more after the first day.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include <sqlite3.h>

#include "TextFile.h"
#include "kva/platform/Module.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDays = 30;
constexpr int kPeriodMinutes = 240;
constexpr double kScale = 14400;  // a simulated day in 6 s
constexpr int kRoundsPerCatalogue = 3;

fs::path Kva() {
    const std::wstring exe = plat::HostExecutablePath();
    return fs::path(exe.substr(0, exe.rfind(L'/'))) / "kva";
}

using kvatest::Quote;
using kvatest::ReadAll;

long StatusField(long pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}

long OpenFiles(long pid) {
    std::error_code ec;
    long n = 0;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}

long WaitForPid(const fs::path& file) {
    for (int i = 0; i < 100; ++i) {
        long pid = 0;
        if (std::ifstream(file) >> pid && pid > 0) return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

// Rounds the host started, by its "Check version" lines.
int Rounds(const fs::path& logs, long pid) {
    const std::string text = ReadAll(logs / ("kva-" + std::to_string(pid) + ".log"));
    int n = 0;
    for (std::size_t at = 0; (at = text.find("Check version", at)) != std::string::npos; ++at) ++n;
    return n;
}

long long Rows(const fs::path& db, const char* table) {
    sqlite3* h = nullptr;
    long long n = -1;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(h, 5000);
        sqlite3_stmt* st = nullptr;
        const std::string sql = std::string("SELECT count(*) FROM ") + table;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(h);
    return n;
}

// A database's bytes with its write-ahead log, which holds what is not yet checkpointed.
long long DbBytes(const fs::path& db) {
    std::error_code ec;
    long long n = 0;
    for (const char* suffix : {"", "-wal"}) {
        const auto size = fs::file_size(db.string() + suffix, ec);
        if (!ec) n += static_cast<long long>(size);
    }
    return n;
}

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / "kva-soak-month";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path machine = dir / "machine", service = dir / "service";
    const std::string kva = Quote(Kva()) + " --state " + Quote(machine);
    const std::string scaled = kva + " --time-scale " + std::to_string(kScale);
    auto run = [](const std::string& cmd) { return std::system(cmd.c_str()) == 0; };

    if (!run(kva + " catalogue make " + Quote(service) + " >/dev/null")) return 2;
    run(kva + " serve " + Quote(service) + " --port 0 >" + Quote(dir / "serve.out") + " 2>&1 & echo $! >" +
        Quote(dir / "serve.pid"));
    const long serve = WaitForPid(dir / "serve.pid");
    std::string url;
    for (int i = 0; i < 100 && url.empty(); ++i) {
        const std::string out = ReadAll(dir / "serve.out");
        const auto at = out.find("http://");
        if (at != std::string::npos) url = out.substr(at, out.find_first_of(" \n", at) - at);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (url.empty() || !run(kva + " catalogue make " + Quote(service) + " --configure " + url + " --inventory >/dev/null")) {
        std::cerr << "soak: the update service did not start\n";
        return 2;
    }
    const fs::path cfg = machine / "drive_c/Program Files/Vantor/Pilotdeck/config/commoncfg.xml";
    std::string xml = ReadAll(cfg);
    xml.insert(xml.find("</commoncfg>"),
               "<Update initTime=\"0\" queryPeriod=\"" + std::to_string(kPeriodMinutes) + "\"/>\n");
    std::ofstream(cfg) << xml;

    run(scaled + " suite >/dev/null 2>&1 & echo $! >" + Quote(dir / "suite.pid"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    run(scaled + " host >/dev/null 2>&1 & echo $! >" + Quote(dir / "host.pid"));
    const long suite = WaitForPid(dir / "suite.pid"), host = WaitForPid(dir / "host.pid");

    const auto day = std::chrono::duration<double>(86400.0 / kScale);
    const auto start = std::chrono::steady_clock::now();
    long firstRss = -1, lastRss = -1;
    int catalogueVersion = 1, rounds = 0;
    bool alive = true;
    std::printf("day  rss_KiB  files  threads  rounds  machine.db bytes  registry rows  dataevents.db bytes  event rows\n");
    int roundsBefore = 0, fewestInADay = 1 << 30;
    for (int d = 1; d <= kDays && alive; ++d) {
        // The catalogue changes every few rounds, as the service publishes.
        while (std::chrono::steady_clock::now() < start + d * day) {
            rounds = Rounds(machine / "logs", host);
            if (rounds >= catalogueVersion * kRoundsPerCatalogue) {
                ++catalogueVersion;
                run(kva + " catalogue make " + Quote(service) + " --catalogue-version " + std::to_string(catalogueVersion) +
                    " >/dev/null");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        const long rss = StatusField(host, "VmRSS");
        alive = rss > 0;
        if (d == 1) firstRss = rss;
        lastRss = rss;
        std::printf("%3d  %7ld  %5ld  %7ld  %6d  %16lld  %13lld  %19lld  %10lld\n", d, rss, OpenFiles(host),
                    StatusField(host, "Threads"), rounds, DbBytes(machine / "machine.db"),
                    Rows(machine / "machine.db", "reg_values"), DbBytes(machine / "dataevents.db"),
                    Rows(machine / "dataevents.db", "events"));
        fewestInADay = std::min(fewestInADay, rounds - roundsBefore);
        roundsBefore = rounds;
        std::fflush(stdout);
    }
    for (long pid : {host, suite, serve}) {
        if (pid > 0) run("kill " + std::to_string(pid) + " 2>/dev/null");
    }
    const int perDay = 24 * 60 / kPeriodMinutes;
    const long growth = lastRss - firstRss;
    std::printf("rounds %d in %d days (at most %d a day, fewest in one day %d); resident memory grew %ld KiB after "
                "the first day; %d catalogues\n",
                rounds, kDays, perDay, fewestInADay, growth, catalogueVersion);
    // The period starts when a round ends, so the time rounds take shifts them a little later over
    // the month; a day without its rounds would show as a gap.
    const bool ok = alive && fewestInADay >= perDay - 1 && growth < 1024;
    if (!ok) std::printf("soak FAILED\n");
    return ok ? 0 : 1;
}
