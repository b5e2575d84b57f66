// Helpers shared by the library's own files; not part of its interface.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "KVADownload/Catalogue.h"
#include "KVADownload/UpdateInfo.h"

namespace kvadl {

// Where the update service is and whose signature its catalogue must carry.
struct ServiceConfig {
    std::string url;                    // http://, https:// or file:// (no trailing '/')
    std::vector<unsigned char> makerKey;  // raw 32-byte Ed25519 public key; empty: none configured
};
ServiceConfig LoadServiceConfig();

// One package of an accepted catalogue.
struct CatalogueEntry {
    std::string kind;  // "driver", "firmware", "application", "diagnose"
    _TOBEUPDATE_DRIVER_INFO info;
    nlohmann::json descriptions = nlohmann::json::object();
};

// Fetches, checks and accepts the machine's catalogue; on refusal (logged with its reason) or a
// network failure falls back to the last accepted one. nullopt when there is none at all.
std::optional<std::vector<CatalogueEntry>> CurrentCatalogue(bool fetch);

// CheckCatalogue that also hands back the parsed document (whatever the verdict), so an accepted
// catalogue is parsed once.
CatalogueVerdict CheckCatalogue(const std::string& body, const std::string& signatureBase64,
                                const std::vector<unsigned char>& makerKey, std::int64_t nowSeconds,
                                std::uint64_t lastAcceptedVersion, std::string* reason, std::uint64_t* version,
                                nlohmann::json* parsed);

// Resolves a package URL of the catalogue against the service URL (absolute URLs pass).
std::string ResolveUrl(const std::string& base, const std::string& url);

// Whole-file helpers on host paths. WriteFileAtomic replaces the file only once it is complete.
bool WriteFileAtomic(const std::filesystem::path& file, const std::string& bytes);
std::optional<std::string> ReadFile(const std::filesystem::path& file, std::uintmax_t limit);

// Seconds since 1970 by the platform clock.
std::int64_t NowSeconds();

// The installed-software inventory of the machine (see UpdateService.h).
std::string InstalledVersion(const std::string& id);

}  // namespace kvadl
