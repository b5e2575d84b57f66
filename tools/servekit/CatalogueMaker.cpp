#include "ServeKit/CatalogueMaker.h"

#include <openssl/evp.h>

#include <fstream>

#include "KVADownload/Catalogue.h"
#include "KVADownload/ZipArchive.h"
#include "Util/Ed25519.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool WriteWhole(const fs::path& file, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())));
}

}  // namespace

bool GenerateMakerKey(std::string* privatePem, std::string* publicBase64) {
    std::string raw;
    if (!kvasig::Ed25519Generate(privatePem, &raw)) return false;
    *publicBase64 = kvasig::Base64Encode(raw);
    return true;
}

std::string MakerPublicKey(const std::string& privatePem) {
    const std::string raw = kvasig::Ed25519PublicKey(privatePem);
    return raw.empty() ? std::string() : kvasig::Base64Encode(raw);
}

std::string SignCatalogue(const std::string& body, const std::string& privatePem) {
    const std::string sig = kvasig::Ed25519Sign(body, privatePem);
    return sig.empty() ? std::string() : kvasig::Base64Encode(sig);
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(bytes.data(), bytes.size(), d, &n, EVP_sha256(), nullptr);
    return kvasig::HexEncode(d, n);
}

CCatalogueMaker::CCatalogueMaker(fs::path folder, std::string privatePem)
    : m_folder(std::move(folder)), m_privatePem(std::move(privatePem)) {}

json& CCatalogueMaker::Entry(const std::string& kind, const std::string& id, const std::string& name,
                             const std::string& version, int updateType, const std::string& file,
                             const std::string& bytes) {
    WriteWhole(m_folder / "packages" / file, bytes);
    m_packages.push_back({
        {"kind", kind},
        {"strDriverID", id},
        {"strDriverName", name},
        {"versionInfo",
         {{"strNextVersion", version},
          {"strNextVersionID", id + "-" + version},
          {"strUrl", "packages/" + file},
          {"strVersionType", "1"},
          {"FileSize", bytes.size()}}},
        {"policy", {{"updateType", updateType}}},
        {"hashInfo", {{"strHashAlgo", "SHA256"}, {"strHash", Sha256Hex(bytes)}}},
        {"isInvolovedA", false},
        {"descriptions", {{"en-US", name + " " + version}, {"zh-CN", name + " " + version + " (zh)"}}},
    });
    return m_packages.back();
}

json& CCatalogueMaker::AddPackage(const std::string& kind, const std::string& id, const std::string& name,
                                  const std::string& version, int updateType) {
    const json script = {{"id", id}, {"version", version}, {"name", name}, {"exitCode", 0}};
    CZipWriter zip;
    zip.Add("setup.exe", script.dump(2) + "\n");
    zip.Add("readme.txt", name + " " + version + "\n");
    if (m_payloadBytes) {
        // A fixed xorshift sequence: the same catalogue bytes each time, and nothing for zip to squeeze.
        std::string payload(m_payloadBytes, '\0');
        std::uint64_t x = 0x9E3779B97F4A7C15ull ^ std::hash<std::string>{}(id);
        for (char& c : payload) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            c = static_cast<char>(x);
        }
        zip.Add("payload.bin", payload);
    }
    return Entry(kind, id, name, version, updateType, id + "_" + version + ".zip", zip.Finish());
}

json& CCatalogueMaker::AddRawPackage(const std::string& kind, const std::string& id, const std::string& name,
                                     const std::string& version, int updateType, const std::string& file,
                                     const std::string& bytes) {
    return Entry(kind, id, name, version, updateType, file, bytes);
}

std::string CCatalogueMaker::Text(const std::string& model, std::uint64_t version, std::int64_t expires) const {
    const json doc = {{"format", 1}, {"version", version}, {"expires", expires}, {"model", model},
                      {"packages", m_packages}};
    return doc.dump(2) + "\n";
}

bool CCatalogueMaker::Write(const std::string& model, std::uint64_t version, std::int64_t expires) const {
    const std::string text = Text(model, version, expires);
    const std::string sig = SignCatalogue(text, m_privatePem);
    if (sig.empty()) return false;
    const fs::path dir = m_folder / "catalogue";
    return WriteWhole(dir / (model + ".json"), text) && WriteWhole(dir / (model + ".json.sig"), sig + "\n");
}

bool MakeSampleCatalogue(const fs::path& folder, const std::string& privatePem, const std::string& model,
                         std::uint64_t version, std::int64_t expires, std::uint64_t payloadBytes) {
    CCatalogueMaker maker(folder, privatePem);
    maker.SetPayloadSize(payloadBytes);
    maker.AddPackage("driver", "15", "Wireless LAN Driver", "22.200.0.6", 2)["policy"]["restartLevel1"] = true;
    maker.AddPackage("driver", "14", "Onboard Audio Driver", "6.0.9500.1", 5);
    auto& bios = maker.AddPackage("firmware", "23", "BIOS", "1.0.12", 2);
    bios["policy"]["restartLevel2"] = true;
    bios["policy"]["idleAllowed"] = true;
    maker.AddPackage("firmware", "45", "PD Controller Firmware", "3.4.0", 5);
    maker.AddPackage("application", "0", "Pilotdeck", "5.1.0.12", 5);
    maker.AddPackage("diagnose", "101", "Diagnose Analysis", "2.0.1", 1);
    return maker.Write(model, version, expires) && (model == "default" || maker.Write("default", version, expires));
}
