#include "DemoInstall.h"

#include <iomanip>
#include <map>

#include "KVADownload/DriverMgmtDBHelper.h"
#include "install/DataEventIds.h"
#include "kva/platform/Desktop.h"

namespace kva {

namespace {

constexpr std::int64_t kEventBase = 601000000;

std::string Reason(const std::string& code) {
    static const std::map<std::string, std::string> reasons = {
        {"1", "the battery is too low"},
        {"3", "an update window of the suite is open"},
        {"4", "synergy is in use"},
        {"5", "a manual update is not finished"},
        {"8", "the machine is not idle"},
        {"9", "a full-screen application is in front"},
        {"10", "the user turned driver updates off"},
        {"11", "a package it depends on is not installed yet"},
        {"12", "the management application is being installed"},
        {"13", "a meeting application is running"},
    };
    auto it = reasons.find(code);
    return it == reasons.end() ? "refusal code " + code : it->second;
}

std::string Value(const DataEventRecord& e, std::size_t i) { return i < e.values.size() ? e.values[i] : ""; }

// "name;version;type..." as "name version".
std::string Package(const std::string& text) {
    const auto a = text.find(';');
    if (a == std::string::npos) return text;
    const auto b = text.find(';', a + 1);
    return text.substr(0, a) + " " + text.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
}

}  // namespace

std::vector<std::string> DemoInstallSuiteSteps() { return {"installer fail-package 23 1 1603"}; }

void PrepareDemoRefusal(std::ostream& out) {
    plat::AddProcess(L"classcons.exe");
    out << "== a meeting application (classcons.exe) runs on the machine: idle installs must wait;\n"
        << "   the installer will fail the BIOS package (exit code 1603)\n";
}

std::string DescribeInstallEvent(const DataEventRecord& e) {
    switch (e.eventId - kEventBase) {
        case evt::kDriverUpdateError: {
            // "DriverName <name>;<type>", track, error code
            std::string name = Value(e, 1);
            if (name.rfind("DriverName ", 0) == 0) name = name.substr(11);
            name = name.substr(0, name.rfind(';'));
            return "install refused: " + name + ": " + Reason(Value(e, 3));
        }
        case evt::kDriverInstallFailed:
            return "install failed: " + Package(Value(e, 1)) + ": the installer's setup result " + Value(e, 2) +
                   ", exit code " + Value(e, 3);
        case evt::kDriverInstallTime: {
            const std::string text = Value(e, 1);
            return "installed: " + Package(text) + ", exit code " + text.substr(text.rfind(';') + 1) + ", in " +
                   Value(e, 2) + " ms";
        }
        default:
            return {};
    }
}

void PrintHistory(std::ostream& out) {
    out << "== update history (newest first)\n";
    const auto rows = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems();
    if (rows.empty()) out << "  (none)\n";
    for (const auto& r : rows) {
        out << "  package " << std::left << std::setw(4) << r.strDriverID << " " << std::setw(12)
            << (r.strCurVersion.empty() ? "-" : r.strCurVersion) << " -> " << std::setw(12) << r.strNextVersion
            << " " << r.FileSize << " bytes" << std::endl;
    }
}

}  // namespace kva
