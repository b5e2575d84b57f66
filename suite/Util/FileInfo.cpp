#include "Util/FileInfo.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "Util/CommonCfgMgr.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"

namespace {

using PKey = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;

std::optional<std::string> ReadCapped(const std::filesystem::path& path, std::uintmax_t cap) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > cap) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (bytes.str().size() > cap) return std::nullopt;  // grew while we read
    return bytes.str();
}

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::optional<std::string> Base64Decode(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t len = static_cast<std::size_t>(n);
    if (text.back() == '=') --len;
    if (text.size() > 1 && text[text.size() - 2] == '=') --len;
    out.resize(len);
    return out;
}

std::string Base64Encode(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

bool Ed25519Verify(const std::string& message, const std::string& signature, const std::string& rawKey) {
    if (rawKey.size() != 32 || signature.size() != 64) return false;
    PKey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                         reinterpret_cast<const unsigned char*>(rawKey.data()), rawKey.size()),
             EVP_PKEY_free);
    MdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::filesystem::path SignaturePath(const std::filesystem::path& file) {
    std::filesystem::path sig = file;
    sig += ".sig";
    return sig;
}

}  // namespace

namespace FileInfo {

bool VerifyDigitalSignature(const std::wstring& path, bool /*bCheckOnline*/) {
    const auto file = plat::ToHostPath(path);
    const auto body = ReadCapped(file, kMaxSignedBytes);
    if (!body) return false;
    const auto sigText = ReadCapped(SignaturePath(file), kMaxSignatureBytes);
    if (!sigText) {
        KVA_LOG_ERROR("no signature beside " << file.string());
        return false;
    }
    const auto signature = Base64Decode(Trim(*sigText));
    const auto key = Base64Decode(Trim(CCommonCfgMgr::getInstance().GetMakerPublicKey()));
    if (!key) {
        KVA_LOG_ERROR("no maker key configured");
        return false;
    }
    if (!signature || !Ed25519Verify(*body, *signature, *key)) {
        KVA_LOG_ERROR("signature does not verify: " << file.string());
        return false;
    }
    return true;
}

bool SignFile(const std::wstring& path, const std::string& privateKeyPem) {
    const auto file = plat::ToHostPath(path);
    const auto body = ReadCapped(file, kMaxSignedBytes);
    if (!body) return false;
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())),
                                            BIO_free);
    if (!bio) return false;
    PKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    MdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    unsigned char sig[64];
    std::size_t len = sizeof(sig);
    if (EVP_DigestSign(ctx.get(), sig, &len, reinterpret_cast<const unsigned char*>(body->data()), body->size()) != 1)
        return false;
    std::ofstream out(SignaturePath(file), std::ios::binary | std::ios::trunc);
    out << Base64Encode(std::string(reinterpret_cast<char*>(sig), len)) << "\n";
    return static_cast<bool>(out);
}

}  // namespace FileInfo
