#include "KVADownload/UpdateService.h"

#include <openssl/rand.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "Fetch.h"
#include "Internal.h"
#include "KVADownload/Catalogue.h"
#include "KVADownload/DriverDownloadManager.h"
#include "KVADownload/Folders.h"
#include "KVADownload/PackageJson.h"
#include "KVADownload/Version.h"
#include "Util/CommonCfgMgr.h"
#include "Util/Ed25519.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Registry.h"
#include "kva/platform/Text.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const wchar_t* kLibraryKey = L"SOFTWARE\\Vantor\\KVADownload";
constexpr const wchar_t* kInventoryKey = L"SOFTWARE\\Vantor\\Inventory\\";
constexpr const wchar_t* kIgnoredKey = L"SOFTWARE\\Vantor\\KVADownload\\Ignored";
constexpr long kCatalogueTimeoutMs = 60000;
constexpr std::uint32_t kNetworkProbeMs = 30000;

std::mutex g_catalogueMutex;  // one acceptance at a time: read, check and store the version
std::string g_lastRefusal;    // guarded by g_catalogueMutex
std::string g_lastFetchError;  // guarded by g_catalogueMutex

std::string ReadMachineString(const std::wstring& key, const wchar_t* name) {
    std::wstring value;
    if (plat::RegGetStringAt(plat::kHKeyLocalMachine, key, name, &value) != plat::kErrorSuccess) return {};
    return plat::ToUtf8(value);
}

bool MachineKeyExists(const std::wstring& key) {
    plat::HKEY h = 0;
    if (plat::RegOpenKey(plat::kHKeyLocalMachine, key, plat::kKeyRead, &h) != plat::kErrorSuccess) return false;
    plat::RegCloseKey(h);
    return true;
}

bool WriteMachineString(const std::wstring& key, const wchar_t* name, const std::string& value) {
    plat::HKEY h = 0;
    if (plat::RegCreateKey(plat::kHKeyLocalMachine, key, 0, plat::kKeyAllAccess, &h) != plat::kErrorSuccess)
        return false;
    const bool ok = plat::RegSetString(h, name, plat::FromUtf8(value)) == plat::kErrorSuccess;
    plat::RegCloseKey(h);
    return ok;
}

fs::path AcceptedFile(const char* ext) {
    return plat::ToHostPath(GetAppDataFolder() + "\\DriverUpgrade\\Catalogue\\accepted" + ext);
}

std::uint64_t AcceptedVersion() {
    const std::string v = ReadMachineString(kLibraryKey, L"CatalogueVersion");
    try {
        return v.empty() ? 0 : std::stoull(v);
    } catch (...) {
        return 0;
    }
}

std::vector<kvadl::CatalogueEntry> Entries(const json& doc) {
    std::vector<kvadl::CatalogueEntry> out;
    if (!doc.is_object() || !doc.contains("packages")) return out;
    out.reserve(doc["packages"].size());
    for (const auto& p : doc["packages"]) {
        kvadl::CatalogueEntry e;
        if (!PackageFromJson(p, e.info) || e.info.strDriverID.empty()) continue;
        e.info.strCurVersion.clear();
        if (p.contains("kind") && p["kind"].is_string()) e.kind = p["kind"].get<std::string>();
        if (p.contains("descriptions") && p["descriptions"].is_object()) e.descriptions = p["descriptions"];
        out.push_back(std::move(e));
    }
    return out;
}

// REQUIRES: g_catalogueMutex held. The stored copy, its signature checked again (a copy altered
// on disk is not used); its age is not held against it, it is what we last knew.
std::optional<json> LastAccepted(const kvadl::ServiceConfig& cfg) {
    auto body = kvadl::ReadFile(AcceptedFile(".json"), kMaxCatalogueBytes);
    auto sig = kvadl::ReadFile(AcceptedFile(".json.sig"), kMaxSignatureBytes);
    if (!body || !sig) return std::nullopt;
    std::string why;
    json doc;
    if (kvadl::CheckCatalogue(*body, *sig, cfg.makerKey, INT64_MIN, 0, &why, nullptr, &doc) !=
        CatalogueVerdict::Accepted) {
        KVA_LOG_ERROR("stored catalogue not usable: " << why);
        return std::nullopt;
    }
    return doc;
}

// Stores an accepted catalogue unless the stored copy already is this one.
bool KeepAccepted(const std::string& body, const std::string& sig, std::uint64_t version) {
    const auto storedSig = kvadl::ReadFile(AcceptedFile(".json.sig"), kMaxSignatureBytes);
    const bool same = storedSig && *storedSig == sig && AcceptedVersion() == version &&
                      kvadl::ReadFile(AcceptedFile(".json"), kMaxCatalogueBytes) == body;
    if (same) return true;
    return kvadl::WriteFileAtomic(AcceptedFile(".json.sig"), sig) && kvadl::WriteFileAtomic(AcceptedFile(".json"), body) &&
           WriteMachineString(kLibraryKey, L"CatalogueVersion", std::to_string(version));
}

// Fetches name.json and its signature; false when the service has no such catalogue or failed.
bool FetchCatalogue(const std::string& base, const std::string& name, std::string* body, std::string* sig,
                    std::string* error) {
    const auto b = kvadl::Fetch(base + "/catalogue/" + name + ".json", kMaxCatalogueBytes, kCatalogueTimeoutMs);
    if (!b.transferred || b.status != 200) {
        *error = b.transferred ? "HTTP status " + std::to_string(b.status) : b.error;
        return false;
    }
    *body = b.body;
    const auto s = kvadl::Fetch(base + "/catalogue/" + name + ".json.sig", kMaxSignatureBytes, kCatalogueTimeoutMs);
    sig->clear();
    if (s.transferred && s.status == 200) *sig = s.body;  // a missing signature is refused below
    return true;
}

bool IsKind(const kvadl::CatalogueEntry& e, std::initializer_list<const char*> kinds) {
    for (const char* k : kinds)
        if (e.kind == k) return true;
    return false;
}

std::optional<kvadl::CatalogueEntry> FindKind(const std::vector<kvadl::CatalogueEntry>& cat, const char* kind,
                                              const char* id) {
    for (const auto& e : cat)
        if (e.kind == kind || e.info.strDriverID == id) return e;
    return std::nullopt;
}

}  // namespace

namespace kvadl {

ServiceConfig LoadServiceConfig() {
    auto& cfg = CCommonCfgMgr::getInstance();
    ServiceConfig out;
    out.url = cfg.GetUpdateServiceUrl();
    while (!out.url.empty() && out.url.back() == '/') out.url.pop_back();
    if (const auto raw = kvasig::Base64Decode(cfg.GetMakerPublicKey())) out.makerKey.assign(raw->begin(), raw->end());
    return out;
}

std::int64_t NowSeconds() { return plat::CClock::Get().WallMs() / 1000; }

std::string InstalledVersion(const std::string& id) { return GetInstalledVersion(id); }

std::string ResolveUrl(const std::string& base, const std::string& url) {
    if (url.find("://") != std::string::npos) return url;
    std::string rel = url;
    while (!rel.empty() && rel.front() == '/') rel.erase(rel.begin());
    return base + "/" + rel;
}

bool WriteFileAtomic(const fs::path& file, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const fs::path tmp = file.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
            fs::remove(tmp, ec);
            return false;
        }
    }
    fs::rename(tmp, file, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

std::optional<std::string> ReadFile(const fs::path& file, std::uintmax_t limit) {
    // One open and sequential reads: this runs for every package description of a check.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
    if (!in) return std::nullopt;
    std::string data;
    char buf[16384];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), in.get())) > 0) {
        if (data.size() + n > limit) return std::nullopt;
        data.append(buf, n);
    }
    if (std::ferror(in.get())) return std::nullopt;
    return data;
}

std::optional<std::vector<CatalogueEntry>> CurrentCatalogue(bool fetch) {
    const ServiceConfig cfg = LoadServiceConfig();
    std::lock_guard lock(g_catalogueMutex);
    if (fetch && !cfg.url.empty()) {
        std::string body, sig, error;
        bool got = FetchCatalogue(cfg.url, ModelKey(), &body, &sig, &error);
        if (!got) got = FetchCatalogue(cfg.url, "default", &body, &sig, &error);
        g_lastFetchError = got ? std::string() : error;
        if (got) {
            std::string why;
            std::uint64_t version = 0;
            json doc;
            const auto verdict =
                CheckCatalogue(body, sig, cfg.makerKey, NowSeconds(), AcceptedVersion(), &why, &version, &doc);
            if (verdict == CatalogueVerdict::Accepted) {
                g_lastRefusal.clear();
                if (!KeepAccepted(body, sig, version))
                    KVA_LOG_ERROR("cannot store the accepted catalogue version " << version);
                return Entries(doc);
            }
            g_lastRefusal = why;
            KVA_LOG_ERROR("catalogue refused: " << why << "; keeping the last accepted one");
        } else {
            KVA_LOG_ERROR("cannot fetch the catalogue from " << cfg.url << ": " << error);
        }
    }
    if (auto kept = LastAccepted(cfg)) return Entries(*kept);
    return std::nullopt;
}

}  // namespace kvadl

std::string LastCatalogueRefusal() {
    std::lock_guard lock(g_catalogueMutex);
    return g_lastRefusal;
}

std::string LastCatalogueFetchError() {
    std::lock_guard lock(g_catalogueMutex);
    return g_lastFetchError;
}

std::string GetInstalledVersion(const std::string& id) {
    return ReadMachineString(kInventoryKey + plat::FromUtf8(id), L"Version");
}

bool SetInstalledVersion(const std::string& id, const std::string& version, const std::string& name) {
    if (!IsSafePathPart(id)) return false;
    const std::wstring key = kInventoryKey + plat::FromUtf8(id);
    return WriteMachineString(key, L"Version", version) && (name.empty() || WriteMachineString(key, L"Name", name));
}

int GetDriverNewVersionEx(std::vector<_TOBEUPDATE_DRIVER_INFO>& packages, std::vector<_IGNORED_DRIVER_INFO>& ignored,
                          int refresh) {
    if (kvadl::LoadServiceConfig().url.empty()) return KVADL_NOT_CONFIGURED;
    const auto cat = kvadl::CurrentCatalogue(refresh != 0);
    if (!cat) return KVADL_NO_CATALOGUE;
    packages.clear();
    // Most machines ignore nothing: one look at the parent key spares a lookup per package.
    const bool anyIgnored = MachineKeyExists(kIgnoredKey);
    // The whole inventory in one read instead of one read per package.
    std::map<std::string, std::wstring> inventory;
    plat::RegGetStringsBelow(plat::kHKeyLocalMachine, kInventoryKey, L"Version", &inventory);
    for (auto& e : *cat) {
        if (!IsKind(e, {"driver", "firmware"})) continue;
        if (!IsSafePathPart(e.info.strDriverID) || !IsSafePathPart(e.info.versionInfo.strNextVersion)) {
            KVA_LOG_ERROR("catalogue package with an unsafe id or version skipped, driver id " << e.info.strDriverID);
            continue;
        }
        _TOBEUPDATE_DRIVER_INFO info = std::move(e.info);
        const auto installed = inventory.find(plat::AsciiLower(info.strDriverID));
        info.strCurVersion = installed == inventory.end() ? std::string() : plat::ToUtf8(installed->second);
        if (CompareVersion(info.strCurVersion, info.versionInfo.strNextVersion) != VERSION_OFFERED_NEWER) continue;
        const std::wstring ignoredKey = std::wstring(kIgnoredKey) + L"\\" + plat::FromUtf8(info.strDriverID);
        if (anyIgnored && ReadMachineString(ignoredKey, L"Version") == info.versionInfo.strNextVersion) {
            std::time_t t = 0;
            try {
                t = static_cast<std::time_t>(std::stoll(ReadMachineString(ignoredKey, L"Time")));
            } catch (...) {
                // an unreadable time shows as the epoch; the ignore itself still holds
            }
            char when[32] = {};
            std::tm tm{};
            localtime_r(&t, &tm);
            std::strftime(when, sizeof(when), "%Y-%m-%d %H:%M", &tm);
            ignored.push_back({info.strDriverID, info.strCurVersion, info.isInvolovedA, when,
                               info.versionInfo.strNextVersion});
            continue;
        }
        info.strAux1 = PickDescription(e.descriptions, "en-US");
        // The folder is made by the write when the description is new or changed.
        CDetectedFolderMgr(info.strDriverID, 0).WriteDrvInfo(info, e.descriptions.dump(), info.policy.updateType);
        packages.push_back(std::move(info));
    }
    KVA_LOG_WARN("newer packages offered: " << packages.size() << ", ignored: " << ignored.size());
    return KVADL_OK;
}

namespace {

int NewerOf(const char* kind, const char* id, const std::string& language, _TOBEUPDATE_DRIVER_INFO& record,
            int refresh) {
    if (kvadl::LoadServiceConfig().url.empty()) return KVADL_NOT_CONFIGURED;
    const auto cat = kvadl::CurrentCatalogue(refresh != 0);
    if (!cat) return KVADL_NO_CATALOGUE;
    auto e = FindKind(*cat, kind, id);
    if (!e || !IsSafePathPart(e->info.versionInfo.strNextVersion)) return KVADL_NO_NEWER;
    e->info.strDriverID = id;  // the application and the tool are known by their fixed ids
    e->info.strCurVersion = GetInstalledVersion(id);
    if (CompareVersion(e->info.strCurVersion, e->info.versionInfo.strNextVersion) != VERSION_OFFERED_NEWER)
        return KVADL_NO_NEWER;
    e->info.strAux1 = PickDescription(e->descriptions, language);
    CDetectedFolderMgr(id, 1).WriteDrvInfo(e->info, e->descriptions.dump(), e->info.policy.updateType);
    record = e->info;
    return KVADL_OK;
}

}  // namespace

int GetLanternaNewVersion(const std::string& language, int which, _TOBEUPDATE_DRIVER_INFO& record, int refresh) {
    if (which != 2) return KVADL_BAD_ARGUMENT;
    return NewerOf("application", "0", language, record, refresh);
}

int GetLanternaNewVersionEx(const std::string& language, _TOBEUPDATE_DRIVER_INFO& record, int refresh) {
    return GetLanternaNewVersion(language, 2, record, refresh);
}

bool GetDiagnoseAnalysisNewVersion() {
    _TOBEUPDATE_DRIVER_INFO record;
    return NewerOf("diagnose", "101", "en-US", record, 1) == KVADL_OK;
}

bool WaitForNetWork(const plat::CEvent* stop) {
    const plat::CEvent& shutdown = CDriverDownloadManager::GetInstance()->ShutdownEvent();
    auto& clock = plat::CClock::Get();
    for (;;) {
        const std::string url = kvadl::LoadServiceConfig().url;
        if (!url.empty()) {
            const auto r = kvadl::Fetch(url + "/catalogue/", 64 * 1024, 15000);
            // Any HTTP answer (even 403 or 404) means the service is reachable; so does a server
            // whose certificate is refused: the round goes on and its fetch says why it failed,
            // instead of the probe waiting silently for ever.
            const std::string folder = kvadl::FileUrlPath(url);
            if (folder.empty() ? (r.transferred || r.tooLarge || r.peerRefused) : fs::is_directory(folder)) return true;
        }
        const plat::CEvent* events[] = {&shutdown, stop ? stop : &shutdown};
        if (clock.Wait({events[0], events[1]}, kNetworkProbeMs) == plat::WaitResult::Signaled) return false;
    }
}

std::string GetQOTAID() {
    static std::mutex m;
    std::lock_guard lock(m);
    std::string id = ReadMachineString(kLibraryKey, L"QOTAID");
    if (!id.empty()) return id;
    unsigned char raw[16];
    if (RAND_bytes(raw, sizeof(raw)) != 1) return {};
    id = kvasig::HexEncode(raw, sizeof(raw));
    if (!WriteMachineString(kLibraryKey, L"QOTAID", id)) KVA_LOG_ERROR("cannot keep the OTA identifier");
    return id;
}

std::string ProduceJsonStrForSn(int) {
    const std::string otaid = GetQOTAID();
    const auto serial = plat::GetOverride("serial");
    return json{{"sn", serial ? *serial : otaid}, {"model", plat::ProductName()}, {"otaid", otaid}}.dump(
        -1, ' ', false, json::error_handler_t::replace);
}

int initReportDriverInfor(int status, const std::string& id, const std::string& version, const std::string& name,
                          const std::string& updateType, report& r) {
    r.strStatus = std::to_string(status);
    r.strDriverID = id;
    r.strVersion = version;
    r.strDriverName = name;
    r.strUpdateType = updateType;
    r.strFromVersion = GetInstalledVersion(id);
    r.strModel = plat::ProductName();
    r.strOtaId = GetQOTAID();
    r.strTime = std::to_string(kvadl::NowSeconds());
    return 0;
}

int ReportUpgradeStatusNew(int status, const std::string& versionId, const std::string& version, report& r) {
    r.strStatus = std::to_string(status);
    r.strVersionID = versionId;
    if (!version.empty()) r.strVersion = version;
    const json body = {{"status", r.strStatus},       {"driverId", r.strDriverID},   {"product", r.strProduct},
                       {"version", r.strVersion},     {"driverName", r.strDriverName}, {"updateType", r.strUpdateType},
                       {"versionId", r.strVersionID}, {"fromVersion", r.strFromVersion}, {"model", r.strModel},
                       {"otaId", r.strOtaId},         {"language", r.strLanguage},   {"time", r.strTime},
                       {"result", r.strResult}};
    const std::string text = body.dump(-1, ' ', false, json::error_handler_t::replace);
    const std::string url = kvadl::LoadServiceConfig().url;
    if (url.empty()) return -1;
    const std::string folder = kvadl::FileUrlPath(url);
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(fs::path(folder) / "reports", ec);
        std::ofstream out(fs::path(folder) / "reports" / "upgrade-status.jsonl", std::ios::app);
        if (!(out << text << "\n")) return -1;
        return 0;
    }
    const auto res = kvadl::Fetch(url + "/report", 4096, 30000, &text);
    if (!res.transferred) {
        KVA_LOG_ERROR("upgrade-status report not sent: " << res.error);
        return -1;
    }
    if (res.status < 200 || res.status > 299) {
        KVA_LOG_ERROR("upgrade-status report refused with HTTP status " << res.status);
        return static_cast<int>(res.status);
    }
    return 0;
}

std::uint64_t GetAcceptedCatalogueVersion() { return AcceptedVersion(); }
