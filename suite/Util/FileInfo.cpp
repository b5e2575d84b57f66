#include "Util/FileInfo.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "Util/CommonCfgMgr.h"
#include "Util/Ed25519.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"

namespace {

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
    const auto signature = kvasig::Base64Decode(*sigText);
    const auto key = kvasig::Base64Decode(CCommonCfgMgr::getInstance().GetMakerPublicKey());
    if (!key) {
        KVA_LOG_ERROR("no maker key configured");
        return false;
    }
    if (!signature || !kvasig::Ed25519Verify(*body, *signature, *key)) {
        KVA_LOG_ERROR("signature does not verify: " << file.string());
        return false;
    }
    return true;
}

bool SignFile(const std::wstring& path, const std::string& privateKeyPem) {
    const auto file = plat::ToHostPath(path);
    const auto body = ReadCapped(file, kMaxSignedBytes);
    if (!body) return false;
    const std::string sig = kvasig::Ed25519Sign(*body, privateKeyPem);
    if (sig.empty()) return false;
    std::ofstream out(SignaturePath(file), std::ios::binary | std::ios::trunc);
    out << kvasig::Base64Encode(sig) << "\n";
    return static_cast<bool>(out);
}

}  // namespace FileInfo
