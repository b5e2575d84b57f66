#include "DemoStory.h"

#include <fstream>
#include <regex>

#include "DemoInstall.h"
#include "DataReport/BIDataReport.h"
#include "install/DataEventIds.h"

namespace kva {

namespace {


// What of a package's story the demo tells: why it waits or was refused, and what went wrong with
// a download. The rest is told from the tables and the events.
bool WorthTelling(const std::string& text) {
    for (const char* start : {"install refused:", "downloads held back:", "waits", "idle download waits", "download failed",
                              "download interrupted", "download resumed", "download refused", "the package carries no hash",
                              "passed over"}) {
        if (text.rfind(start, 0) == 0) return true;
    }
    return false;
}

std::string FileName(const std::string& windowsPath) { return windowsPath.substr(windowsPath.rfind('\\') + 1); }

}  // namespace

// The suite's answers in words; empty for a line not worth a line of its own.
std::string CDemoStory::SuiteWords(const std::string& line) {
    static const std::regex tip(R"re(^msgcentre tip (\d+) shown \(kind \d+\): "([^"]*)" "([^"]*)"(.*)$)re");
    static const std::regex option(R"re( option (\d+) "([^"]*)")re");
    static const std::regex answered(R"re(^msgcentre answered tip (\d+) with event \d+ "(\d+)")re");
    static const std::regex finished(R"re(^appmgr +install finished notice 0x5001([34]): \{"strDriverID":"(\w+)")re");
    static const std::regex setup(R"re(^installer application setup: (\S+) (.*)$)re");
    static const std::regex package(R"re(^installer package (\S+) (\S+): result (\d+), exit code (\d+))re");
    std::smatch m;
    if (std::regex_search(line, m, tip)) {
        // The title says what it is about; the options are what the user may answer.
        std::string text = "message centre shows tip " + m[1].str() + " \"" + m[2].str() + "\"";
        auto& options = m_tipOptions[m[1].str()];
        const std::string rest = m[4];
        for (auto it = std::sregex_iterator(rest.begin(), rest.end(), option); it != std::sregex_iterator(); ++it) {
            options.push_back((*it)[2].str());
            text += (options.size() == 1 ? ", options \"" : ", \"") + options.back() + "\"";
        }
        return text;
    }
    if (std::regex_search(line, m, answered)) {
        const auto& options = m_tipOptions[m[1].str()];
        const std::size_t i = std::stoul(m[2].str());
        return "the user picks " + (i < options.size() ? "\"" + options[i] + "\"" : "option " + m[2].str()) + " on tip " + m[1].str();
    }
    if (std::regex_search(line, m, finished))
        return m[1] == "3" ? "application manager: told package " + m[2].str() + " is installed" : std::string();
    if (std::regex_search(line, m, setup)) return "installer: sets up the application: " + FileName(m[1]) + " " + m[2].str();
    if (std::regex_search(line, m, package))
        return "installer: package " + m[1].str() + " " + m[2].str() + " set up, result " + m[3].str() + ", exit code " + m[4].str();
    if (line.rfind("mainui    new application version notice", 0) == 0) return "main UI: told a new application version is out";
    if (line.rfind("installer application is now ", 0) == 0) return "installer: the application is now " + line.substr(29);
    for (const char* start : {"kva suite: hub listening", "kva suite: peers ready", "synergy   asked"}) {
        if (line.rfind(start, 0) == 0) return {};
    }
    return line;
}

namespace {

void PrintRawEvent(const DataEventRecord& e, std::ostream& out) {
    out << "  event " << e.eventId << " [";
    for (std::size_t i = 0; i < e.values.size(); ++i) out << (i ? ", " : "") << e.values[i];
    out << "]" << std::endl;
}

}  // namespace

void CDemoStory::ReadEvents(std::ostream& out) {
    for (const auto& e : CBIDataReport::GetInstance()->Events(std::nullopt, m_lastEvent)) {
        m_lastEvent = e.seq;
        if (m_verbose) PrintRawEvent(e, out);
        if (e.eventId == evt::kEventBase + evt::kCheckRound) {
            out << "\n-- round " << ++m_rounds << " " << std::string(40, '-') << std::endl;
            continue;
        }
        CInstallOutcome outcome;
        if (DescribeInstallEvent(e, &outcome)) {
            // The package's earlier moves first ("installing"), then how its install ended.
            m_packages.Poll(out);
            const std::string id = m_packages.IdOf(outcome.name);
            StoryLine(out, id.empty() ? "?" : id, outcome.name, outcome.text);
        }
    }
}

void CDemoStory::ReadHostLog(std::ostream& out) {
    std::ifstream in(m_hostLog, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(m_logRead));
    std::string chunk((std::istreambuf_iterator<char>(in)), {});
    m_logRead += chunk.size();
    m_partialLine += chunk;
    std::size_t start = 0;
    for (auto nl = m_partialLine.find('\n'); nl != std::string::npos; nl = m_partialLine.find('\n', start)) {
        const std::string raw = m_partialLine.substr(start, nl - start);
        start = nl + 1;
        if (m_verbose) out << "  | " << raw << std::endl;
        CLogLine line = ParseLogLine(raw);
        if (!line.time.empty()) m_log.push_back(std::move(line));
    }
    m_partialLine.erase(0, start);
}

void CDemoStory::TellRefusals(std::ostream& out) {
    m_packages.ForEach([&](const std::string& id, const std::string& name) {
        CTold& t = m_stories[id];
        if (!t.story) t.story = std::make_unique<CPackageStory>(id, name, std::vector<CPackageStory::CDependency>{});
        if (t.fed < m_log.size()) {
            t.story->ReadLog(std::vector<CLogLine>(m_log.begin() + static_cast<std::ptrdiff_t>(t.fed), m_log.end()));
            t.fed = m_log.size();
        }
        const auto& lines = t.story->Lines();
        for (; t.told < lines.size(); ++t.told) {
            const std::string& text = lines[t.told].text;
            if (!WorthTelling(text) || text == t.last) continue;
            t.last = text;
            if (text.rfind("install refused:", 0) == 0) ++m_refusals;
            StoryLine(out, id, name, text);
        }
    });
}

void CDemoStory::Poll(std::ostream& out) {
    ReadEvents(out);
    m_packages.Poll(out);
    ReadHostLog(out);
    TellRefusals(out);
}

void CDemoStory::OnSuiteLine(const std::string& line, std::ostream& out) {
    if (m_verbose) StoryLine(out, "suite", "", line);
    if (m_restart.OnSuiteLine(line, out) || m_verbose) return;
    if (const std::string words = SuiteWords(line); !words.empty()) StoryLine(out, "suite", "", words);
}

}  // namespace kva
