// Ed25519 signatures and the text forms of bytes (Base64, hex): the one place that speaks to the crypto library for
// the maker's signatures (catalogues, signed files) and for their keys. Any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kvasig {

std::string Base64Encode(std::string_view bytes);
// Two lower-case hex digits a byte (digests, identifiers).
std::string HexEncode(const unsigned char* bytes, std::size_t size);
// White space anywhere in `text` (the line end of a .sig file, a configured key wrapped over
// lines) is ignored; nullopt for anything else that is not Base64.
std::optional<std::string> Base64Decode(std::string_view text);

// `signature` (64 bytes) of `message` by the 32-byte raw public key.
bool Ed25519Verify(std::string_view message, std::string_view signature, std::string_view rawPublicKey);
// The 64-byte signature of `message` by a PEM private key; empty on a bad key.
std::string Ed25519Sign(std::string_view message, const std::string& privatePem);
// A new key pair: the PEM private key and the raw 32-byte public key. False when none was made.
bool Ed25519Generate(std::string* privatePem, std::string* rawPublicKey);
// The raw public key of a PEM private key; empty on a bad key.
std::string Ed25519PublicKey(const std::string& privatePem);

}  // namespace kvasig
