#include "DemoInstall.h"

#include <cstdio>
#include <cstdlib>
#include <iomanip>

#include "DemoPackages.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "install/DataEventIds.h"
#include "kva/platform/Desktop.h"

namespace kva {

namespace {

constexpr wchar_t kMeetingApp[] = L"classcons.exe";

std::string Value(const DataEventRecord& e, std::size_t i) { return i < e.values.size() ? e.values[i] : ""; }

}  // namespace

void StartDemoMeeting(std::ostream& out) {
    plat::AddProcess(kMeetingApp);
    out << "== a meeting application (classcons.exe) runs on the machine: idle installs wait until it ends\n";
}

void EndDemoMeeting(std::ostream& out) {
    plat::RemoveProcess(kMeetingApp);
    StoryLine(out, "machine", "", "the meeting ends (classcons.exe quits)");
}

bool DescribeInstallEvent(const DataEventRecord& e, CInstallOutcome* out) {
    // 2005: "name;version;type", setup result, exit code. 2006: "name;version;type;result;exit code", ms.
    const std::string what = Value(e, 1);
    out->name = what.substr(0, what.find(';'));
    switch (e.eventId - evt::kEventBase) {
        case evt::kDriverInstallFailed:
            out->text = "install failed: setup result " + Value(e, 2) + ", installer exit code " + Value(e, 3);
            return true;
        case evt::kDriverInstallTime: {
            char took[32];
            std::snprintf(took, sizeof(took), "%.1f s", std::atof(Value(e, 2).c_str()) / 1000.0);
            out->text = "installed (installer exit code " + what.substr(what.rfind(';') + 1) + ", took " + took + ")";
            return true;
        }
        default:
            return false;
    }
}

void PrintHistory(std::ostream& out) {
    out << "\n== update history (newest first)\n";
    const auto rows = DriverMgmtDBHelper::GetInstance()->GetFinishedUpdateItems();
    if (rows.empty()) out << "  (none)\n";
    for (const auto& r : rows) {
        out << "  package " << std::left << std::setw(4) << r.strDriverID << " " << std::setw(12)
            << (r.strCurVersion.empty() ? "-" : r.strCurVersion) << " -> " << std::setw(12) << r.strNextVersion
            << " " << SizeText(r.FileSize) << std::right << std::endl;
    }
}

}  // namespace kva
