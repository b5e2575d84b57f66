// The story of one package, in plain words, for `kva why`: told from what the service already
// records — its log lines (decisions and refusals, with the figures it logged), the data events
// of its installs (setup result, exit code, duration) and the update history. Pure: the verb
// gathers the records, this class reads them. One thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "DataReport/BIDataReport.h"

namespace kva {

// One line of a suite log: "2026-12-06 00:43:05.694 WARN  [140468759635648] text(Class::Method) [file:line]".
struct CLogLine {
    std::string time;    // "2026-12-06 00:43:05"
    std::string thread;  // the logging thread
    std::string text;    // without the method and the source
};
// Nullopt-like: an empty time when `raw` is not a log line.
CLogLine ParseLogLine(const std::string& raw);

struct CStoryLine {
    std::string time;  // as logged
    std::string text;
    int times = 1;          // the same thing said again on consecutive passes
    std::string lastTime;   // when it was said last
};

class CPackageStory {
public:
    // `dependsOn`: the packages the configuration says must be installed first, with whether they are.
    struct CDependency {
        std::string id;
        bool installed = false;
    };
    CPackageStory(std::string id, std::string name, std::vector<CDependency> dependsOn);

    // Log lines of every process, in the order they were written. May be called again with the
    // lines written since: the story goes on where it stopped.
    void ReadLog(const std::vector<CLogLine>& lines);
    // The install events (2005 failed, 2006 installed) give each install attempt its figures.
    void ReadEvents(const std::vector<DataEventRecord>& events);

    const std::vector<CStoryLine>& Lines() const { return m_lines; }

private:
    void Add(const CLogLine& line, std::string text);
    bool NamesThis(const std::string& text) const;
    void ReadOwnLine(const CLogLine& line);
    void ReadGateLine(const CLogLine& line, bool roundWide);
    std::string DependencyText() const;

    std::string m_id;
    std::string m_name;
    std::vector<CDependency> m_dependsOn;
    std::vector<CStoryLine> m_lines;
    // What each logging thread spoke of last: gate lines belong to the package (or round) before them.
    enum class ESubject { kNone, kThis, kOther, kRound };
    std::map<std::string, ESubject> m_subject;
    // Indexes of the install results in m_lines, to hang the events' figures on them in order.
    std::vector<std::size_t> m_failed, m_installed;
    bool m_installedYet = false;
};

}  // namespace kva
