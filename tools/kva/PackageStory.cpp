#include "PackageStory.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>

namespace kva {

namespace {

// Lines that name some package: they end the previous package's context on their thread.
const std::regex kNamesAPackage(
    R"(driver id ?\d|^(DriverExepath empty,|DriverInstalling,|CheckDepend,|CheckWLAN,|Enter driver IdleInstall|Enter ForceDownLoad|Enter Idle DriverDownLoad|install driver failed:|install driver successed:))");
// Lines that open a check round: gate failures after them hold every package of the round.
const std::regex kRoundStart(R"(^(Check version|enter CheckDownLoad|Enter UpdateDriver))");

std::string TypeWord(const std::string& type) {
    if (type == "2") return "forced";
    if (type == "5") return "idle";
    return "type " + type;
}

bool Truthy(const std::string& s) { return s == "1" || s == "true"; }

struct COwnPattern {
    std::regex pattern;
    std::string (*say)(const std::smatch&);
};

const std::vector<COwnPattern>& OwnPatterns() {
    static const std::vector<COwnPattern> patterns = {
        {std::regex(R"(download of driver id \d+ started, type (\d+))"),
         [](const std::smatch& m) { return "download started (" + TypeWord(m[1]) + ")"; }},
        {std::regex(R"(resuming download of driver id \d+ at byte (\d+))"),
         [](const std::smatch& m) { return "download resumed at byte " + m[1].str(); }},
        {std::regex(R"(download of driver id \d+ interrupted at byte (\d+) \((.*)\))"),
         [](const std::smatch& m) { return "download interrupted at byte " + m[1].str() + " (" + m[2].str() + ")"; }},
        {std::regex(R"(download of driver id \d+ finished, installer (.*))"),
         [](const std::smatch& m) { return "downloaded and its hash verified; installer " + m[1].str(); }},
        {std::regex(R"(download of driver id \d+ failed: (.*))"),
         [](const std::smatch& m) { return "download failed: " + m[1].str(); }},
        {std::regex(R"(download of driver id \d+ cancelled)"), [](const std::smatch&) { return std::string("download cancelled"); }},
        {std::regex(R"(carries no hash)"), [](const std::smatch&) { return std::string("the package carries no hash, so none was checked"); }},
        {std::regex(R"(refused unsafe download request)"),
         [](const std::smatch&) { return std::string("download refused: its id or path is not safe"); }},
        {std::regex(R"(unsafe id or version skipped)"),
         [](const std::smatch&) { return std::string("passed over: its id or version is not safe as a folder name"); }},
        {std::regex(R"(^update skip it,driver id)"),
         [](const std::smatch&) { return std::string("offered in the notice: the configuration does not let it update when idle"); }},
        {std::regex(R"(^update no skip it,can idle update)"),
         [](const std::smatch&) { return std::string("sorted as an idle update: the configuration lets it update when idle"); }},
        {std::regex(R"(^Enter ForceDownLoad)"), [](const std::smatch&) { return std::string("forced download requested"); }},
        {std::regex(R"(^Enter Idle DriverDownLoad)"), [](const std::smatch&) { return std::string("idle download requested"); }},
        {std::regex(R"(is not free scene when download driver)"),
         [](const std::smatch&) { return std::string("idle download waits: the machine is not idle"); }},
        {std::regex(R"(^file aready exist)"), [](const std::smatch&) { return std::string("already downloaded earlier"); }},
        {std::regex(R"(^DriverExepath empty,)"), [](const std::smatch&) { return std::string("not installed: no downloaded installer yet"); }},
        {std::regex(R"(^DriverInstalling,)"), [](const std::smatch&) { return std::string("waits: another package is installing"); }},
        {std::regex(R"(^CheckWLAN,)"),
         [](const std::smatch&) { return std::string("waits: a network driver's download is still running"); }},
        {std::regex(R"(^Enter driver IdleInstall)"), [](const std::smatch&) { return std::string("install attempt"); }},
    };
    return patterns;
}

}  // namespace

CLogLine ParseLogLine(const std::string& raw) {
    static const std::regex line(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.\d+ +\w+ +\[(\d+)\] (.*)$)");
    std::smatch m;
    CLogLine out;
    if (!std::regex_match(raw, m, line)) return out;
    std::string text = m[3];
    // Strip " [file:line]" and then "(Class::Method)".
    if (auto at = text.rfind(" ["); at != std::string::npos) text.erase(at);
    if (!text.empty() && text.back() == ')') {
        if (auto open = text.rfind('('); open != std::string::npos && text.find("::", open) != std::string::npos)
            text.erase(open);
    }
    out.time = m[1];
    out.thread = m[2];
    out.text = text;
    return out;
}

CPackageStory::CPackageStory(std::string id, std::string name, std::vector<CDependency> dependsOn)
    : m_id(std::move(id)), m_name(std::move(name)), m_dependsOn(std::move(dependsOn)) {}

bool CPackageStory::NamesThis(const std::string& text) const {
    const std::regex byId("driver id ?" + m_id + R"((\D|$))");
    if (std::regex_search(text, byId)) return true;
    return !m_name.empty() && text.find(m_name) != std::string::npos;
}

void CPackageStory::Add(const CLogLine& line, std::string text) {
    if (!m_lines.empty() && m_lines.back().text == text) {
        // The install loop asks again every pass: say it once, with how often.
        ++m_lines.back().times;
        m_lines.back().lastTime = line.time;
        return;
    }
    m_lines.push_back({line.time, std::move(text), 1, line.time});
}

std::string CPackageStory::DependencyText() const {
    std::string waiting;
    for (const auto& d : m_dependsOn) {
        if (d.installed) continue;
        waiting += (waiting.empty() ? "package " : " and package ") + d.id;
    }
    return waiting.empty() ? "a package it depends on" : waiting;
}

void CPackageStory::ReadOwnLine(const CLogLine& line) {
    const std::string& t = line.text;
    if (t.rfind("CheckDepend,", 0) == 0) return Add(line, "waits for " + DependencyText() + " to install first");
    if (t.rfind("install driver failed:", 0) == 0) {
        m_failed.push_back(m_lines.size());
        return m_lines.push_back({line.time, "install failed", 1, line.time});
    }
    if (t.rfind("install driver successed:", 0) == 0) {
        m_installed.push_back(m_lines.size());
        m_installedYet = true;
        return m_lines.push_back({line.time, "installed", 1, line.time});
    }
    std::smatch m;
    for (const auto& p : OwnPatterns()) {
        if (std::regex_search(t, m, p.pattern)) return Add(line, p.say(m));
    }
}

void CPackageStory::ReadGateLine(const CLogLine& line, bool roundWide) {
    const std::string why = roundWide ? "downloads held back: " : "install refused: ";
    const std::string& t = line.text;
    static const std::regex battery(R"(IsMachineBatteryOk sys_percent = (\d+) config_percent = (\d+))");
    static const std::regex space(R"(space not ok, need reserveSize (\d+))");
    static const std::regex scene(R"(m_IsFreeScene\s*(\w+) isFullscreen\s*(\w+))");
    std::smatch m;
    if (std::regex_search(t, m, battery))
        return Add(line, why + "battery " + m[1].str() + " % below the " + m[2].str() + " % the configuration asks");
    if (std::regex_search(t, m, space))
        return Add(line, why + "not enough free disk space (" + m[1].str() + " bytes needed)");
    if (std::regex_search(t, m, scene))
        return Add(line, why + (Truthy(m[1]) ? "a full-screen application is in front" : "the machine is not idle"));
    const struct {
        const char* start;
        const char* say;
    } plain[] = {
        {"Install pilotdeck", "the management application's installer is running"},
        {"switch close", "the user's idle-update switch is off"},
        {"not finish manual update", "a manual update from the suite is still running"},
        {"vistel meeting now", "a meeting is running"},
        {" Is full screen now", "a full-screen application is in front"},
        {"wnd exist", "an update window of the suite is open"},
        {"synergy is in use", "synergy is in use"},
    };
    for (const auto& p : plain) {
        if (t.rfind(p.start, 0) == 0) return Add(line, why + p.say);
    }
}

void CPackageStory::ReadLog(const std::vector<CLogLine>& lines) {
    for (const CLogLine& line : lines) {
        if (line.time.empty()) continue;
        if (NamesThis(line.text)) {
            m_subject[line.thread] = ESubject::kThis;
            ReadOwnLine(line);
        } else if (std::regex_search(line.text, kNamesAPackage)) {
            m_subject[line.thread] = ESubject::kOther;
        } else if (std::regex_search(line.text, kRoundStart)) {
            m_subject[line.thread] = ESubject::kRound;
        } else if (m_subject[line.thread] == ESubject::kThis) {
            ReadGateLine(line, false);
        } else if (m_subject[line.thread] == ESubject::kRound && !m_installedYet) {
            ReadGateLine(line, true);
        }
    }
}

void CPackageStory::ReadEvents(const std::vector<DataEventRecord>& events) {
    std::size_t failed = 0, installed = 0;
    const std::string prefix = m_name + ";";
    for (const auto& e : events) {
        if (e.values.size() < 3 || e.values[1].rfind(prefix, 0) != 0) continue;
        if (e.eventId == 601002005 && failed < m_failed.size() && e.values.size() >= 4) {
            m_lines[m_failed[failed++]].text +=
                " (setup result " + e.values[2] + ", installer exit code " + e.values[3] + ")";
        } else if (e.eventId == 601002006 && installed < m_installed.size()) {
            // "name;version;type;result;exit code", then the milliseconds it took.
            const std::string& t = e.values[1];
            const auto exitAt = t.rfind(';');
            const double ms = std::atof(e.values[2].c_str());
            char took[32];
            std::snprintf(took, sizeof(took), "%.1f s", ms / 1000.0);
            m_lines[m_installed[installed++]].text +=
                " (installer exit code " + (exitAt == std::string::npos ? "?" : t.substr(exitAt + 1)) + ", took " + took + ")";
        }
    }
}

}  // namespace kva
