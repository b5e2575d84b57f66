#include "DemoPackages.h"

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

#include <nlohmann/json.hpp>

#include "KVADownload/Folders.h"
#include "driver_update/PackageTablesView.h"
#include "driver_update/UpdateRecords.h"
#include "kva/platform/Paths.h"

namespace kva {

const char* PackageStateName(int state) {
    switch (state) {
        case kOfferedOnly: return "offered";
        case PACKAGE_KNOWN: return "known";
        case PACKAGE_DOWNLOADING: return "downloading";
        case PACKAGE_DOWNLOAD_CANCELLED: return "cancelled";
        case PACKAGE_DOWNLOADED: return "downloaded";
        case PACKAGE_DOWNLOAD_FAILED: return "download failed";
        case PACKAGE_INSTALLING: return "installing";
        case PACKAGE_INSTALLED: return "installed";
        case PACKAGE_INSTALL_FAILED: return "install failed";
    }
    return "?";
}

bool CDemoPackages::Load(std::map<std::string, CPackage>* now) const {
    const auto file = plat::ToHostPath(GetAppDataFolder() + driver_update::kPackageTablesFile);
    std::ifstream in(file);
    if (!in) return false;
    const auto doc = nlohmann::json::parse(in, nullptr, false);
    if (!doc.is_object()) return false;
    for (const char* table : {"forced", "idle"}) {
        const auto it = doc.find(table);
        if (it == doc.end() || !it->is_object()) continue;
        for (const auto& [id, e] : it->items()) {
            CPackage p;
            p.table = table;
            p.name = e.value("name", "");
            p.next = e.value("next", "");
            p.installFile = e.value("installFile", "");
            p.size = e.value("size", std::uint64_t{0});
            p.state = e.value("state", static_cast<int>(PACKAGE_KNOWN));
            (*now)[id] = p;
        }
    }
    if (auto it = doc.find("notice"); it != doc.end() && it->is_array()) {
        for (const auto& e : *it) {
            const std::string id = e.value("id", "");
            if (id.empty() || now->count(id)) continue;  // in a table already: its state says more
            CPackage p;
            p.table = "notice";
            p.name = e.value("name", "");
            p.next = e.value("next", "");
            (*now)[id] = p;
        }
    }
    return true;
}

int CDemoPackages::Progress(const std::string& id, const CPackage& p) const {
    if (p.state != PACKAGE_DOWNLOADING || p.size == 0) return -1;
    const std::string folder = GetDownloadPath(id, p.next, 0, 1);
    if (folder.empty()) return -1;
    std::error_code ec;
    const auto part = std::filesystem::file_size(plat::ToHostPath(folder + "\\update.zip.part"), ec);
    if (ec) return 0;
    return static_cast<int>(std::min<std::uint64_t>(100, part * 100 / p.size));
}

void CDemoPackages::Poll(std::ostream& out) {
    std::map<std::string, CPackage> now;
    if (!Load(&now)) return;
    for (auto& [id, p] : now) {
        const auto before = m_packages.find(id);
        const bool changed = before == m_packages.end() || before->second.state != p.state ||
                             before->second.table != p.table;
        p.percent = before == m_packages.end() ? -1 : before->second.percent;
        // A download that ended between two looks still gets its last progress line.
        const int percent = p.state == PACKAGE_DOWNLOADED && p.size > 0 ? 100 : Progress(id, p);
        if (percent >= 0 && percent != p.percent) {
            out << "  package " << id << " downloading " << std::setw(3) << percent << "% of " << p.size << " bytes"
                << std::endl;
            p.percent = percent;
        }
        if (changed) {
            out << "  package " << id << " " << p.name << " " << p.next << " [" << p.table << "]: "
                << PackageStateName(p.state) << std::endl;
        }
    }
    m_packages = std::move(now);
}

void CDemoPackages::PrintTable(std::ostream& out) const {
    out << "== packages\n"
        << "  " << std::left << std::setw(5) << "id" << std::setw(26) << "name" << std::setw(8) << "table"
        << std::setw(17) << "state" << "file\n";
    for (const auto& [id, p] : m_packages) {
        out << "  " << std::setw(5) << id << std::setw(26) << p.name << std::setw(8) << p.table << std::setw(17)
            << PackageStateName(p.state) << (p.installFile.empty() ? "-" : p.installFile) << "\n";
    }
    if (m_packages.empty()) out << "  (the service has not sorted any package yet)\n";
    out << std::right;
}

}  // namespace kva
