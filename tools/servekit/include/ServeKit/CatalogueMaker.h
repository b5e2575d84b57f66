// The maker's side of an update service folder: package archives, the catalogue and its
// signature. Used by `kva catalogue make` and by tests that need a service of their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// Maker keys: PEM private key, base64 raw public key (what the configuration's publicKey holds).
bool GenerateMakerKey(std::string* privatePem, std::string* publicBase64);
std::string MakerPublicKey(const std::string& privatePem);  // empty on a bad key
// The base64 signature of a catalogue's exact bytes; empty on failure.
std::string SignCatalogue(const std::string& body, const std::string& privatePem);

class CCatalogueMaker {
public:
    CCatalogueMaker(std::filesystem::path folder, std::string privatePem);

    // Writes packages/<id>_<version>.zip holding setup.exe (a small JSON script the simulated
    // installer reads: id, version, name, exitCode 0) and returns the package's catalogue entry
    // (size and SHA-256 filled) for the caller to adjust.
    nlohmann::json& AddPackage(const std::string& kind, const std::string& id, const std::string& name,
                               const std::string& version, int updateType);
    // Same with the given bytes as the package file (not an archive) under packages/<file>.
    nlohmann::json& AddRawPackage(const std::string& kind, const std::string& id, const std::string& name,
                                  const std::string& version, int updateType, const std::string& file,
                                  const std::string& bytes);
    // Writes catalogue/<model>.json and its signature. False when a file cannot be written.
    bool Write(const std::string& model, std::uint64_t version, std::int64_t expiresSeconds) const;
    // The catalogue text Write would sign (for tests that tamper with it).
    std::string Text(const std::string& model, std::uint64_t version, std::int64_t expiresSeconds) const;

    std::vector<nlohmann::json>& Packages() { return m_packages; }
    // Archives made after this also hold "payload.bin" of this many bytes that do not compress:
    // packages big enough that a download takes a while.
    void SetPayloadSize(std::uint64_t bytes) { m_payloadBytes = bytes; }

private:
    nlohmann::json& Entry(const std::string& kind, const std::string& id, const std::string& name,
                          const std::string& version, int updateType, const std::string& file,
                          const std::string& bytes);

    std::filesystem::path m_folder;
    std::string m_privatePem;
    std::vector<nlohmann::json> m_packages;
    std::uint64_t m_payloadBytes = 0;
};

// The demo's catalogue for `model` (and "default"): two drivers (a forced network driver "15", an
// idle audio driver "14"), the BIOS "23", the PD firmware "45", the application "0" and the diagnose
// tool "101". `payloadBytes`: see SetPayloadSize.
bool MakeSampleCatalogue(const std::filesystem::path& folder, const std::string& privatePem, const std::string& model,
                         std::uint64_t version, std::int64_t expiresSeconds, std::uint64_t payloadBytes = 0);

// Hex SHA-256 of a byte string.
std::string Sha256Hex(const std::string& bytes);
