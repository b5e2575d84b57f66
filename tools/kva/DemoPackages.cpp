#include "DemoPackages.h"

#include <cstdio>
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

void StoryLine(std::ostream& out, const std::string& who, const std::string& name, const std::string& text) {
    out << "  " << std::left << std::setw(8) << who;
    if (!name.empty()) out << std::setw(24) << name.substr(0, 23);
    out << std::right << text << std::endl;
}

std::string SizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024) std::snprintf(text, sizeof(text), "%.1f MB", bytes / (1024.0 * 1024.0));
    else if (bytes >= 1024) std::snprintf(text, sizeof(text), "%llu KB", static_cast<unsigned long long>(bytes / 1024));
    else std::snprintf(text, sizeof(text), "%llu bytes", static_cast<unsigned long long>(bytes));
    return text;
}

std::string ProgressBar(int percent, int width) {
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

namespace {

std::string RateText(std::uint64_t bytes, double seconds) {
    return seconds > 0.05 ? SizeText(static_cast<std::uint64_t>(bytes / seconds)) + "/s" : std::string("-");
}

std::string OfferedText(const std::string& table, const std::string& next) {
    if (table == "forced") return "offered " + next + ": a forced update";
    if (table == "idle") return "offered " + next + ": updates when the machine is idle";
    return "offered " + next + " in the driver notice (the user decides)";
}

}  // namespace

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

std::uint64_t CDemoPackages::PartBytes(const std::string& id, const CPackage& p) const {
    const std::string folder = GetDownloadPath(id, p.next, 0, 1);
    if (folder.empty()) return 0;
    std::error_code ec;
    const auto part = std::filesystem::file_size(plat::ToHostPath(folder + "\\update.zip.part"), ec);
    return ec ? 0 : part;
}

void CDemoPackages::SayMove(std::ostream& out, const std::string& id, CPackage& p, const CPackage* before) const {
    if (!before || before->table != p.table) StoryLine(out, id, p.name, OfferedText(p.table, p.next));
    if (before && before->state == p.state) return;
    switch (p.state) {
        case PACKAGE_DOWNLOADING:
            p.downloadFrom = Clock::now();
            p.bytesAtStart = PartBytes(id, p);
            StoryLine(out, id, p.name, "downloading " + SizeText(p.size));
            break;
        case PACKAGE_DOWNLOADED: {
            std::string text = "downloaded " + SizeText(p.size);
            if (before && before->state == PACKAGE_DOWNLOADING) {
                const double s = std::chrono::duration<double>(Clock::now() - before->downloadFrom).count();
                char took[32];
                std::snprintf(took, sizeof(took), " in %.1f s", s);
                text += took + (" (" + RateText(p.size - before->bytesAtStart, s) + ")");
            }
            StoryLine(out, id, p.name, text + ", its hash checked");
            break;
        }
        case PACKAGE_DOWNLOAD_FAILED:
        case PACKAGE_DOWNLOAD_CANCELLED:
        case PACKAGE_INSTALLING:
            StoryLine(out, id, p.name, PackageStateName(p.state));
            break;
        default:
            break;  // installs are told from their data events, which carry the figures
    }
}

void CDemoPackages::SayProgress(std::ostream& out, const std::string& id, CPackage& p) const {
    if (p.state != PACKAGE_DOWNLOADING || p.size == 0) return;
    const std::uint64_t part = PartBytes(id, p);
    const int percent = static_cast<int>(std::min<std::uint64_t>(100, part * 100 / p.size));
    const int quarter = percent / 25;
    if (quarter <= p.quarter || quarter >= 4) return;
    p.quarter = quarter;
    const double s = std::chrono::duration<double>(Clock::now() - p.downloadFrom).count();
    std::ostringstream text;
    text << ProgressBar(percent) << " " << std::setw(3) << percent << "%  " << SizeText(part) << " of "
         << SizeText(p.size) << "  " << RateText(part - std::min(part, p.bytesAtStart), s);
    StoryLine(out, id, " ", text.str());
}

void CDemoPackages::Poll(std::ostream& out) {
    std::map<std::string, CPackage> now;
    if (!Load(&now)) return;
    for (auto& [id, p] : now) {
        const auto before = m_packages.find(id);
        const CPackage* was = before == m_packages.end() ? nullptr : &before->second;
        if (was && was->state == p.state) {
            p.quarter = was->quarter;
            p.downloadFrom = was->downloadFrom;
            p.bytesAtStart = was->bytesAtStart;
        }
        if (!was || was->state != p.state || was->table != p.table) SayMove(out, id, p, was);
        SayProgress(out, id, p);
    }
    m_packages = std::move(now);
}

std::string CDemoPackages::IdOf(const std::string& name) const {
    for (const auto& [id, p] : m_packages) {
        if (p.name == name) return id;
    }
    return {};
}

const std::string& CDemoPackages::NameOf(const std::string& id) const {
    static const std::string none;
    const auto it = m_packages.find(id);
    return it == m_packages.end() ? none : it->second.name;
}

void CDemoPackages::PrintTable(std::ostream& out) const {
    out << "\n== the service's packages at the end\n"
        << "  " << std::left << std::setw(5) << "id" << std::setw(26) << "name" << std::setw(8) << "table"
        << std::setw(17) << "state" << "file\n";
    for (const auto& [id, p] : m_packages) {
        std::string file = p.installFile.empty() ? "-" : p.installFile;
        // The folder under the data folder says enough on a narrow terminal.
        if (const auto at = file.find("Downloaded\\"); at != std::string::npos) file = "..\\" + file.substr(at);
        out << "  " << std::setw(5) << id << std::setw(26) << p.name << std::setw(8) << p.table << std::setw(17)
            << PackageStateName(p.state) << file << "\n";
    }
    if (m_packages.empty()) out << "  (the service has not sorted any package yet)\n";
    out << std::right;
}

}  // namespace kva
