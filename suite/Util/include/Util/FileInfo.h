// The maker's signatures on files of the machine.
//
// A signed file "X" has its signature beside it in "X.sig": the base64 text of the Ed25519
// signature over the exact bytes of X, made with the maker's private key (whitespace around the
// text is ignored). It is verified against the maker's public key of the common configuration
// (CCommonCfgMgr::GetMakerPublicKey, base64 of the raw 32-byte key). Files above kMaxSignedBytes
// and signature files above kMaxSignatureBytes are refused unread. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace FileInfo {

inline constexpr std::uintmax_t kMaxSignedBytes = 64ull * 1024 * 1024;
inline constexpr std::uintmax_t kMaxSignatureBytes = 1024;

// True only when the file, its signature and the configured key are all present and the signature
// verifies. `bCheckOnline` would ask for the signer's revocation online; the maker key has no
// revocation list, so it changes nothing. `path` is a Windows or host path.
bool VerifyDigitalSignature(const std::wstring& path, bool bCheckOnline);

// Maker side (tools, tests, the demo): writes "X.sig" for `path` with a PEM Ed25519 private key.
bool SignFile(const std::wstring& path, const std::string& privateKeyPem);

}  // namespace FileInfo
