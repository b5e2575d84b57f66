#include "KVADownload/Folders.h"

#include <pugixml.hpp>

#include <functional>
#include <mutex>
#include <unordered_map>

#include "Internal.h"
#include "KVADownload/PackageJson.h"
#include "Util/SuitePaths.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDriverInfoFile = "DriverInfo.xml";
constexpr const char* kLastCheckFile = "\\DriverUpgrade\\LastCheckTime.xml";
constexpr const wchar_t* kIgnoredKey = L"SOFTWARE\\Vantor\\KVADownload\\Ignored";

fs::path Host(const std::string& windowsPath) { return plat::ToHostPath(windowsPath); }

struct CStringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
};

constexpr std::uintmax_t kMaxDescriptionBytes = 1 << 20;
const std::string kNoDescriptions = "{}";

std::string DescriptionXml(const std::string& id, int updateType, long long savedAt, const std::string& package,
                           const std::string& descriptions) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("DriverInfo");
    root.append_attribute("id") = id.c_str();
    root.append_attribute("updateType") = updateType;
    root.append_attribute("savedAt") = savedAt;
    root.append_child("Package").append_child(pugi::node_pcdata).set_value(package.c_str());
    root.append_child("Descriptions").append_child(pugi::node_pcdata).set_value(descriptions.c_str());
    CStringWriter out;
    doc.save(out, "  ");
    return std::move(out.text);
}

// The savedAt attribute of a stored description, -1 when there is none; the comparison that follows
// checks the rest byte for byte, so a plain search is enough here.
long long SavedAt(const std::string& xml) {
    constexpr std::string_view kAttr = "savedAt=\"";
    const auto at = xml.find(kAttr);
    if (at == std::string::npos) return -1;
    long long v = 0;
    std::size_t i = at + kAttr.size();
    if (i >= xml.size() || xml[i] < '0' || xml[i] > '9') return -1;
    for (; i < xml.size() && xml[i] >= '0' && xml[i] <= '9' && v < 1'000'000'000'000'000LL; ++i) v = v * 10 + (xml[i] - '0');
    return v;
}

std::size_t DescriptionKey(std::size_t packageDigest, const std::string& descriptions, int updateType) {
    const std::hash<std::string> h;
    std::size_t key = packageDigest;
    key ^= h(descriptions) + 0x9e3779b97f4a7c15ULL + (key << 6) + (key >> 2);
    key ^= static_cast<std::size_t>(updateType) + 0x9e3779b97f4a7c15ULL + (key << 6) + (key >> 2);
    return key;
}

// The descriptions this process last wrote or found unchanged, by file: a key of what went in and
// the file's modification time. A file whose time moved, or that is gone, is read again, so edits
// and deletions by anyone else are still seen.
class CDescriptionMemo {
public:
    bool Unchanged(const fs::path& file, std::size_t key) const {
        std::error_code ec;
        const auto mtime = fs::last_write_time(file, ec);
        if (ec) return false;
        std::lock_guard lock(m_mtx);
        const auto it = m_seen.find(file.native());
        return it != m_seen.end() && it->second.key == key && it->second.mtime == mtime;
    }
    void Remember(const fs::path& file, std::size_t key) {
        std::error_code ec;
        const auto mtime = fs::last_write_time(file, ec);
        std::lock_guard lock(m_mtx);
        if (ec) {
            m_seen.erase(file.native());
            return;
        }
        // Packages leave catalogues; a bound keeps the ones long gone from piling up.
        if (m_seen.size() >= kMaxRemembered && !m_seen.count(file.native())) m_seen.clear();
        m_seen[file.native()] = {key, mtime};
    }

private:
    static constexpr std::size_t kMaxRemembered = 50000;
    struct CSeen {
        std::size_t key = 0;
        fs::file_time_type mtime;
    };
    mutable std::mutex m_mtx;
    std::unordered_map<std::string, CSeen> m_seen;
};

CDescriptionMemo g_memo;

bool RemoveTree(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
    return !ec;
}

}  // namespace

std::string GetAppDataFolder() { return suite::DataFolder(); }

std::string GetUpdateFolder(int folderKind, int scope) {
    const char* kind = folderKind == 1 ? "Detected" : folderKind == 2 ? "Downloaded" : folderKind == 3 ? "Installed" : nullptr;
    if (!kind) return {};
    switch (scope) {
        case 0: return std::string("\\DriverUpgrade\\Update\\") + kind;
        case 1: return std::string("\\DriverUpgrade\\") + kind;
        case 3: return std::string("\\DriverUpgrade\\Temp\\") + kind;
        default: return {};
    }
}

bool IsSafePathPart(const std::string& part) {
    if (part.empty() || part.size() > 128 || part == "." || part == "..") return false;
    for (char c : part) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) return false;
    }
    return part.find("..") == std::string::npos;
}

std::string GetDownloadPath(const std::string& id, const std::string& version, int create, int fullPath) {
    if (!IsSafePathPart(id) || !IsSafePathPart(version)) {
        KVA_LOG_ERROR("refused unsafe package id or version, driver id " << id << " version " << version);
        return {};
    }
    const std::string rel = GetUpdateFolder(2, 0) + "\\" + id + "_" + version;
    const std::string full = GetAppDataFolder() + rel;
    if (create) {
        std::error_code ec;
        fs::create_directories(Host(full), ec);
        if (ec) KVA_LOG_ERROR("cannot create download folder " << full << ": " << ec.message());
    }
    return fullPath ? full : rel;
}

CDetectedFolderMgr::CDetectedFolderMgr(const std::string& id, int create) : m_id(id) {
    if (!IsSafePathPart(id)) {
        KVA_LOG_ERROR("refused unsafe package id " << id);
        return;
    }
    m_folder = GetAppDataFolder() + GetUpdateFolder(1, 0) + "\\" + id;
    if (create) {
        std::error_code ec;
        fs::create_directories(Host(m_folder), ec);
    }
}

int CDetectedFolderMgr::ReadDrvInfo(const std::string& language, _TOBEUPDATE_DRIVER_INFO& info) const {
    if (m_folder.empty()) return 0;
    const fs::path file = Host(m_folder + "\\" + kDriverInfoFile);
    pugi::xml_document doc;
    if (!doc.load_file(file.c_str())) {
        KVA_LOG_ERROR("no readable package description for driver id " << m_id);
        return 0;
    }
    const pugi::xml_node root = doc.child("DriverInfo");
    const auto pkg = nlohmann::json::parse(root.child_value("Package"), nullptr, false);
    _TOBEUPDATE_DRIVER_INFO read;
    if (!PackageFromJson(pkg, read) || read.strDriverID != m_id) {
        KVA_LOG_ERROR("damaged package description for driver id " << m_id);
        return 0;
    }
    const auto desc = nlohmann::json::parse(root.child_value("Descriptions"), nullptr, false);
    read.strAux1 = PickDescription(desc, language);
    info = std::move(read);
    return 1;
}

bool CDetectedFolderMgr::WriteDrvInfo(const _TOBEUPDATE_DRIVER_INFO& info, const std::string& descriptionsJson,
                                      int updateType) const {
    if (m_folder.empty() || info.strDriverID != m_id) return false;
    const fs::path file = Host(m_folder + "\\" + kDriverInfoFile);
    // The history's from-version: what is installed while the package waits for its install.
    _TOBEUPDATE_DRIVER_INFO described = info;
    if (described.versionInfo.strAux3.empty()) described.versionInfo.strAux3 = described.strCurVersion;
    const std::string& descriptions = descriptionsJson.empty() ? kNoDescriptions : descriptionsJson;
    // Every check offers mostly the descriptions it offered before; an unchanged one keeps its file
    // and its time. Rewriting thousands of files a round cost more than the rest of the check, and
    // so did building their JSON only to find it unchanged.
    const std::size_t key = DescriptionKey(PackageDigest(described), descriptions, updateType);
    if (g_memo.Unchanged(file, key)) return true;
    const std::string package = PackageToJson(described).dump();
    if (const auto old = kvadl::ReadFile(file, kMaxDescriptionBytes)) {
        const long long savedAt = SavedAt(*old);
        if (savedAt >= 0 && DescriptionXml(m_id, updateType, savedAt, package, descriptions) == *old) {
            g_memo.Remember(file, key);
            return true;
        }
    }
    const std::string text = DescriptionXml(m_id, updateType, kvadl::NowSeconds(), package, descriptions);
    if (!kvadl::WriteFileAtomic(file, text)) {
        KVA_LOG_ERROR("cannot write package description of driver id " << m_id);
        return false;
    }
    g_memo.Remember(file, key);
    return true;
}

bool CDetectedFolderMgr::DownloadXML(const download_param& param) const {
    if (m_folder.empty()) return false;
    if (auto cat = kvadl::CurrentCatalogue(false)) {
        for (const auto& e : *cat) {
            if (e.info.strDriverID == m_id && e.info.versionInfo.strNextVersion == param.strNextVersion) {
                _TOBEUPDATE_DRIVER_INFO info = e.info;
                info.strCurVersion = kvadl::InstalledVersion(m_id);
                return WriteDrvInfo(info, e.descriptions.dump(), param.upateType);
            }
        }
    }
    _TOBEUPDATE_DRIVER_INFO info = PackageFromRecord(m_id, param);
    info.hashInfo.strHashAlgo = param.strHashAlgo;
    info.hashInfo.strHash = param.strHash;
    info.policy.updateType = param.upateType;
    info.policy.restartLevel1 = param.restart;
    info.policy.restartLevel2 = param.shutdown;
    return WriteDrvInfo(info, {}, param.upateType);
}

bool CDetectedFolderMgr::DeleteOldVersionFile(const std::string& keepVersion) const {
    if (m_folder.empty()) return false;
    const fs::path root = Host(GetAppDataFolder() + GetUpdateFolder(2, 0));
    const std::string prefix = m_id + "_";
    bool ok = true;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || name == prefix + keepVersion) continue;
        if (!RemoveTree(entry.path())) {
            KVA_LOG_ERROR("cannot delete old download " << name);
            ok = false;
        }
    }
    return ok;
}

int DeleteDetectedDrv(const std::string& id, const std::string& version, int remember) {
    CDetectedFolderMgr folder(id, 0);
    if (folder.Folder().empty()) return plat::kErrorInvalidParameter;
    if (!RemoveTree(Host(folder.Folder()))) return plat::kErrorAccessDenied;
    if (remember) {
        plat::HKEY key = 0;
        const std::wstring path = std::wstring(kIgnoredKey) + L"\\" + plat::FromUtf8(id);
        if (plat::RegCreateKey(plat::kHKeyLocalMachine, path, 0, plat::kKeyAllAccess, &key) != plat::kErrorSuccess)
            return plat::kErrorAccessDenied;
        plat::RegSetString(key, L"Version", plat::FromUtf8(version));
        plat::RegSetString(key, L"Time", std::to_wstring(kvadl::NowSeconds()));
        plat::RegCloseKey(key);
    }
    return 0;
}

bool SaveUpdateInfo(const _TOBEUPDATE_DRIVER_INFO& info, int updateType) {
    CDetectedFolderMgr folder(info.strDriverID, 1);
    // Keep the languages of a description already stored for the same version.
    std::string descriptions;
    pugi::xml_document doc;
    if (doc.load_file(Host(folder.Folder() + "\\" + kDriverInfoFile).c_str()))
        descriptions = doc.child("DriverInfo").child_value("Descriptions");
    return folder.WriteDrvInfo(info, descriptions, updateType);
}

int PostDrvUpgrade(const std::string& id, const std::string& versionOrInstaller, int cleanUp) {
    if (!IsSafePathPart(id)) {
        KVA_LOG_ERROR("refused unsafe package id " << id);
        return plat::kErrorInvalidParameter;
    }
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("Installed");
    root.append_attribute("id") = id.c_str();
    root.append_attribute("what") = versionOrInstaller.c_str();
    root.append_attribute("time") = static_cast<long long>(kvadl::NowSeconds());
    std::ostringstream out;
    doc.save(out);
    const std::string installed = GetAppDataFolder() + GetUpdateFolder(3, 0);
    std::error_code ec;
    fs::create_directories(Host(installed), ec);
    if (!kvadl::WriteFileAtomic(Host(installed + "\\" + id + ".xml"), out.str())) return plat::kErrorAccessDenied;
    if (cleanUp) {
        CDetectedFolderMgr(id, 0).DeleteOldVersionFile("");
        RemoveTree(Host(GetAppDataFolder() + GetUpdateFolder(1, 0) + "\\" + id));
    }
    KVA_LOG_WARN("upgrade of driver id " << id << " recorded: " << versionOrInstaller);
    return 0;
}

bool CLastCheckTimeMgr::Get(const char* name, std::int64_t& t) const {
    pugi::xml_document doc;
    if (!doc.load_file(Host(GetAppDataFolder() + kLastCheckFile).c_str())) return false;
    pugi::xml_attribute a = doc.child("LastCheckTime").attribute(name);
    if (a.empty()) return false;
    t = a.as_llong();
    return true;
}

bool CLastCheckTimeMgr::Set(const char* name) {
    const fs::path file = Host(GetAppDataFolder() + kLastCheckFile);
    pugi::xml_document doc;
    doc.load_file(file.c_str());
    pugi::xml_node root = doc.child("LastCheckTime");
    if (!root) root = doc.append_child("LastCheckTime");
    pugi::xml_attribute a = root.attribute(name);
    if (!a) a = root.append_attribute(name);
    a = static_cast<long long>(kvadl::NowSeconds());
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ostringstream out;
    doc.save(out);
    return kvadl::WriteFileAtomic(file, out.str());
}

bool CLastCheckTimeMgr::GetDriverCheckTime(std::int64_t& t) const { return Get("LastDriverCheckTime", t); }
bool CLastCheckTimeMgr::GetLanternaCheckTime(std::int64_t& t) const { return Get("LastLanternaCheckTime", t); }
bool CLastCheckTimeMgr::GetMessageCenterLastCheckTime(std::int64_t& t) const {
    return Get("LastMessageCenterCheckTime", t);
}
bool CLastCheckTimeMgr::UpdateDriverCheckTime() { return Set("LastDriverCheckTime"); }
bool CLastCheckTimeMgr::UpdateLanternaCheckTime() { return Set("LastLanternaCheckTime"); }
bool CLastCheckTimeMgr::UpdateMessageCenterCheckTime() { return Set("LastMessageCenterCheckTime"); }
