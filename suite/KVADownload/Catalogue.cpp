#include "KVADownload/Catalogue.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "Internal.h"
#include "kva/platform/Machine.h"

namespace {

using PKey = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;

bool Verify(const std::string& body, const std::string& sig, const std::vector<unsigned char>& key) {
    if (key.size() != 32 || sig.size() != 64) return false;
    PKey pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()), EVP_PKEY_free);
    MdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!pkey || !ctx) return false;
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                            reinterpret_cast<const unsigned char*>(body.data()), body.size()) == 1;
}

PKey ReadPrivate(const std::string& pem) {
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    if (!bio) return PKey(nullptr, EVP_PKEY_free);
    return PKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
}

}  // namespace

std::string Base64Encode(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

bool Base64Decode(const std::string& textIn, std::string* bytes) {
    std::string text;
    for (char c : textIn)
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t') text.push_back(c);
    if (text.empty() || text.size() % 4 != 0) return false;
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return false;
    std::size_t len = static_cast<std::size_t>(n);
    // EVP_DecodeBlock counts padding as zero bytes.
    if (text.size() >= 1 && text[text.size() - 1] == '=') --len;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --len;
    out.resize(len);
    *bytes = std::move(out);
    return true;
}

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
    std::string sig;
    if (signatureBase64.empty()) return refuse(CatalogueVerdict::Unsigned, "catalogue is unsigned");
    if (makerKey.size() != 32) return refuse(CatalogueVerdict::BadSignature, "no valid maker key configured");
    if (!Base64Decode(signatureBase64, &sig) || !Verify(body, sig, makerKey))
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

bool GenerateMakerKey(std::string* privatePem, std::string* publicBase64) {
    PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
    if (!key) return false;
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    *privatePem = std::string(data, static_cast<std::size_t>(n));
    *publicBase64 = MakerPublicKey(*privatePem);
    return !publicBase64->empty();
}

std::string MakerPublicKey(const std::string& privatePem) {
    PKey key = ReadPrivate(privatePem);
    unsigned char raw[32];
    std::size_t len = sizeof(raw);
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), raw, &len) != 1 || len != 32) return {};
    return Base64Encode(std::string(reinterpret_cast<char*>(raw), len));
}

std::string SignCatalogue(const std::string& body, const std::string& privatePem) {
    PKey key = ReadPrivate(privatePem);
    MdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return {};
    unsigned char sig[64];
    std::size_t len = sizeof(sig);
    if (EVP_DigestSign(ctx.get(), sig, &len, reinterpret_cast<const unsigned char*>(body.data()), body.size()) != 1)
        return {};
    return Base64Encode(std::string(reinterpret_cast<char*>(sig), len));
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
