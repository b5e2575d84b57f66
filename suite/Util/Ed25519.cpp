#include "Util/Ed25519.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cctype>
#include <memory>

namespace kvasig {

namespace {

using PKey = std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)>;
constexpr std::size_t kKeyBytes = 32, kSignatureBytes = 64;

const unsigned char* Bytes(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

PKey ReadPrivate(const std::string& pem) {
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    if (!bio) return PKey(nullptr, EVP_PKEY_free);
    return PKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), Bytes(bytes), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::string HexEncode(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 15]);
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view textIn) {
    std::string text;
    for (char c : textIn)
        if (!std::isspace(static_cast<unsigned char>(c))) text.push_back(c);
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()), Bytes(text), static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t len = static_cast<std::size_t>(n);
    if (text.back() == '=') --len;
    if (text[text.size() - 2] == '=') --len;
    out.resize(len);
    return out;
}

bool Ed25519Verify(std::string_view message, std::string_view signature, std::string_view rawPublicKey) {
    if (rawPublicKey.size() != kKeyBytes || signature.size() != kSignatureBytes) return false;
    PKey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, Bytes(rawPublicKey), rawPublicKey.size()),
             EVP_PKEY_free);
    MdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(ctx.get(), Bytes(signature), signature.size(), Bytes(message), message.size()) == 1;
}

std::string Ed25519Sign(std::string_view message, const std::string& privatePem) {
    PKey key = ReadPrivate(privatePem);
    MdCtx ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) return {};
    unsigned char sig[kSignatureBytes];
    std::size_t len = sizeof(sig);
    if (EVP_DigestSign(ctx.get(), sig, &len, Bytes(message), message.size()) != 1) return {};
    return std::string(reinterpret_cast<char*>(sig), len);
}

bool Ed25519Generate(std::string* privatePem, std::string* rawPublicKey) {
    PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!key || !bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    *privatePem = std::string(data, static_cast<std::size_t>(n));
    *rawPublicKey = Ed25519PublicKey(*privatePem);
    return !rawPublicKey->empty();
}

std::string Ed25519PublicKey(const std::string& privatePem) {
    PKey key = ReadPrivate(privatePem);
    unsigned char raw[kKeyBytes];
    std::size_t len = sizeof(raw);
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), raw, &len) != 1 || len != kKeyBytes) return {};
    return std::string(reinterpret_cast<char*>(raw), len);
}

}  // namespace kvasig
