#include "KVADownload/Catalogue.h"

#include <nlohmann/json.hpp>

#include "Internal.h"
#include "Util/Ed25519.h"
#include "kva/platform/Machine.h"

CatalogueVerdict CheckCatalogue(const std::string& body, const std::string& signatureBase64,
                                const std::vector<unsigned char>& makerKey, std::int64_t nowSeconds,
                                std::uint64_t lastAcceptedVersion, std::string* reason, std::uint64_t* version) {
    nlohmann::json doc;
    return kvadl::CheckCatalogue(body, signatureBase64, makerKey, nowSeconds, lastAcceptedVersion, reason, version,
                                 &doc);
}

CatalogueVerdict kvadl::CheckCatalogue(const std::string& body, const std::string& signatureBase64,
                                       const std::vector<unsigned char>& makerKey, std::int64_t nowSeconds,
                                       std::uint64_t lastAcceptedVersion, std::string* reason, std::uint64_t* version,
                                       nlohmann::json* parsed) {
    auto refuse = [&](CatalogueVerdict v, std::string why) {
        if (reason) *reason = std::move(why);
        return v;
    };
    if (body.size() > kMaxCatalogueBytes) return refuse(CatalogueVerdict::TooLarge, "catalogue larger than allowed");
    if (signatureBase64.empty()) return refuse(CatalogueVerdict::Unsigned, "catalogue is unsigned");
    if (makerKey.size() != 32) return refuse(CatalogueVerdict::BadSignature, "no valid maker key configured");
    const auto sig = kvasig::Base64Decode(signatureBase64);
    const std::string_view key(reinterpret_cast<const char*>(makerKey.data()), makerKey.size());
    if (!sig || !kvasig::Ed25519Verify(body, *sig, key))
        return refuse(CatalogueVerdict::BadSignature, "catalogue signature does not verify (tampered or wrong key)");
    nlohmann::json& doc = *parsed;
    doc = nlohmann::json::parse(body, nullptr, false);
    if (!doc.is_object() || !doc.contains("version") || !doc["version"].is_number_unsigned() ||
        !doc.contains("expires") || !doc["expires"].is_number_integer() || !doc.contains("packages") ||
        !doc["packages"].is_array())
        return refuse(CatalogueVerdict::Malformed, "catalogue lacks version, expiry or packages");
    const auto v = doc["version"].get<std::uint64_t>();
    if (version) *version = v;
    const auto expires = doc["expires"].get<std::int64_t>();
    if (expires <= nowSeconds)
        return refuse(CatalogueVerdict::Expired, "catalogue version " + std::to_string(v) + " expired at " +
                                                     std::to_string(expires) + ", now " + std::to_string(nowSeconds));
    if (v < lastAcceptedVersion)
        return refuse(CatalogueVerdict::RolledBack, "catalogue version " + std::to_string(v) +
                                                        " is older than the accepted version " +
                                                        std::to_string(lastAcceptedVersion));
    if (reason) reason->clear();
    return CatalogueVerdict::Accepted;
}

std::string ModelKey() {
    std::string key = plat::ProductName();
    for (char& c : key) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                        c == '-' || c == '_';
        if (!ok) c = '_';
    }
    if (key.empty() || key.find_first_not_of('.') == std::string::npos) return "default";
    return key;
}
