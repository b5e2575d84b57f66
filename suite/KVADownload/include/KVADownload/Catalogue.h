// The update service's catalogue: what it offers this machine model, signed by the maker.
//
// Layout of a service (an HTTP root or a file:// folder):
//   catalogue/<model>.json      the catalogue of one machine model (model = ModelKey())
//   catalogue/<model>.json.sig  base64 Ed25519 signature of the exact bytes of the .json
//   catalogue/default.json(.sig) used when the model has no catalogue of its own
//   packages/...                the package files the catalogue points at
//   report                      (HTTP) POST target of upgrade-status reports
//
// The catalogue JSON:
//   { "format": 1, "version": 12, "expires": 1767916800, "model": "...",
//     "packages": [ { "kind": "driver"|"firmware"|"application"|"diagnose",
//                     ...the members of _TOBEUPDATE_DRIVER_INFO (see PackageJson.h)...,
//                     "descriptions": { "en-US": "...", "zh-CN": "..." } } ] }
// "version" never goes down; "expires" is in seconds since 1970. The client refuses a catalogue
// that is unsigned, whose signature does not verify with the configured maker key, that has
// expired, or whose version is below the last one it accepted, and goes on with the last accepted
// one. Neither the catalogue nor its signature is read past a fixed size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t kMaxCatalogueBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxSignatureBytes = 1024;

enum class CatalogueVerdict { Accepted, Unsigned, BadSignature, Malformed, Expired, RolledBack, TooLarge };

// Checks one catalogue. `reason` gets a sentence for the log on refusal; `version` the catalogue's.
CatalogueVerdict CheckCatalogue(const std::string& body, const std::string& signatureBase64,
                                const std::vector<unsigned char>& makerKey, std::int64_t nowSeconds,
                                std::uint64_t lastAcceptedVersion, std::string* reason,
                                std::uint64_t* version = nullptr);

// This machine's catalogue name: the product name with anything but letters, digits, '.', '-' and
// '_' turned into '_' ("default" when empty).
std::string ModelKey();

// Why the last catalogue was refused (empty when the last one was accepted), for tools and tests.
std::string LastCatalogueRefusal();
// Why the last fetch of the catalogue got nothing (the service did not answer, or not with a
// catalogue); empty after a fetch that got one. For tools.
std::string LastCatalogueFetchError();
