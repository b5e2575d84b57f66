// The story `kva demo` tells while the suite's processes run: a line for every round, every move
// of a package (DemoPackages.h), every refusal in the words of `kva why` (PackageStory.h, read from
// the host's log as it grows), every install outcome (from the data events), the suite's answers
// and the restart (DemoRestart.h). The service's own log lines and the raw data events only when
// verbose. One thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "DemoPackages.h"
#include "DemoRestart.h"
#include "PackageStory.h"

namespace kva {

class CDemoStory {
public:
    CDemoStory(bool verbose, double scale) : m_verbose(verbose), m_restart(scale) {}

    void SetHostLog(std::filesystem::path file) { m_hostLog = std::move(file); }
    // Tells what happened since the last call.
    void Poll(std::ostream& out);
    void OnSuiteLine(const std::string& line, std::ostream& out);

    int Rounds() const { return m_rounds; }
    int RefusalsTold() const { return m_refusals; }
    const CDemoPackages& Packages() const { return m_packages; }
    const CDemoRestart& Restart() const { return m_restart; }

private:
    void ReadEvents(std::ostream& out);
    void ReadHostLog(std::ostream& out);
    void TellRefusals(std::ostream& out);
    std::string SuiteWords(const std::string& line);

    bool m_verbose;
    CDemoPackages m_packages;
    CDemoRestart m_restart;
    int m_rounds = 0;
    int m_refusals = 0;
    std::int64_t m_lastEvent = 0;

    std::filesystem::path m_hostLog;
    std::uintmax_t m_logRead = 0;       // bytes of the host's log read so far
    std::string m_partialLine;
    std::vector<CLogLine> m_log;        // every line of it so far
    struct CTold {
        std::unique_ptr<CPackageStory> story;
        std::size_t fed = 0;            // lines of m_log given to the story
        std::size_t told = 0;           // story lines looked at
        std::string last;               // the last thing said of it
    };
    std::map<std::string, CTold> m_stories;  // by package id
    std::map<std::string, std::vector<std::string>> m_tipOptions;  // the close options of each tip shown
};

}  // namespace kva
