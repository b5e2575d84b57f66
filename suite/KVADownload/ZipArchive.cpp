#include "KVADownload/ZipArchive.h"

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocalSig = 0x04034b50, kCentralSig = 0x02014b50, kEndSig = 0x06054b50;

std::uint32_t Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
void Put16(std::string& s, std::uint32_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char((v >> 8) & 0xFF));
}
void Put32(std::string& s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

bool ReadAt(std::ifstream& in, std::uint64_t off, void* buf, std::size_t n) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(off));
    return static_cast<bool>(in.read(static_cast<char*>(buf), static_cast<std::streamsize>(n)));
}

// "a/b.exe" -> true; absolute names, "..", empty parts, drive letters and backslashes are refused.
bool SafeEntryName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos ||
        name.find(':') != std::string::npos || name.find('\0') != std::string::npos)
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, end - start);
        if ((part.empty() && end != name.size()) || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

struct Central {
    std::string name;
    std::uint16_t method;
    std::uint32_t crc, compressed, size, localOffset;
};

bool ReadDirectory(std::ifstream& in, std::uint64_t fileSize, std::vector<Central>* out, std::string* error) {
    const std::uint64_t tail = std::min<std::uint64_t>(fileSize, 65535 + 22);
    std::vector<unsigned char> buf(tail);
    if (tail < 22 || !ReadAt(in, fileSize - tail, buf.data(), tail)) return (*error = "not a zip archive", false);
    std::size_t end = std::string::npos;
    for (std::size_t i = tail - 22 + 1; i-- > 0;)
        if (Le32(&buf[i]) == kEndSig) {
            end = i;
            break;
        }
    if (end == std::string::npos) return (*error = "zip directory not found", false);
    const std::uint16_t count = Le16(&buf[end + 10]);
    const std::uint32_t dirSize = Le32(&buf[end + 12]), dirOffset = Le32(&buf[end + 16]);
    if (std::uint64_t(dirOffset) + dirSize > fileSize) return (*error = "zip directory out of range", false);
    std::vector<unsigned char> dir(dirSize);
    if (dirSize && !ReadAt(in, dirOffset, dir.data(), dirSize)) return (*error = "cannot read zip directory", false);
    std::size_t p = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (p + 46 > dir.size() || Le32(&dir[p]) != kCentralSig) return (*error = "damaged zip directory", false);
        Central c;
        const std::uint16_t flags = Le16(&dir[p + 8]);
        c.method = Le16(&dir[p + 10]);
        c.crc = Le32(&dir[p + 16]);
        c.compressed = Le32(&dir[p + 20]);
        c.size = Le32(&dir[p + 24]);
        const std::size_t nameLen = Le16(&dir[p + 28]), extraLen = Le16(&dir[p + 30]), commentLen = Le16(&dir[p + 32]);
        c.localOffset = Le32(&dir[p + 42]);
        if (p + 46 + nameLen > dir.size()) return (*error = "damaged zip directory", false);
        c.name.assign(reinterpret_cast<const char*>(&dir[p + 46]), nameLen);
        if (flags & 1) return (*error = "encrypted zip entry " + c.name, false);
        if (c.method != 0 && c.method != 8) return (*error = "unsupported zip method in " + c.name, false);
        out->push_back(std::move(c));
        p += 46 + nameLen + extraLen + commentLen;
    }
    return true;
}

bool ExtractOne(std::ifstream& in, std::uint64_t fileSize, const Central& c, const fs::path& target, std::string* error) {
    unsigned char local[30];
    if (!ReadAt(in, c.localOffset, local, sizeof(local)) || Le32(local) != kLocalSig)
        return (*error = "damaged zip entry " + c.name, false);
    const std::uint64_t data = std::uint64_t(c.localOffset) + 30 + Le16(&local[26]) + Le16(&local[28]);
    if (data + c.compressed > fileSize) return (*error = "zip entry out of range " + c.name, false);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return (*error = "cannot write " + target.string(), false);
    in.clear();
    in.seekg(static_cast<std::streamoff>(data));
    z_stream z{};
    if (c.method == 8 && inflateInit2(&z, -MAX_WBITS) != Z_OK) return (*error = "inflate failed", false);
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(c.method == 8 ? &z : nullptr, inflateEnd);
    std::vector<char> inBuf(1 << 16), outBuf(1 << 16);
    std::uint64_t remaining = c.compressed, written = 0;
    uLong crc = crc32(0, nullptr, 0);
    auto emit = [&](const char* p, std::size_t n) {
        written += n;
        if (written > c.size) return false;  // more than the directory announced
        crc = crc32(crc, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n));
        return static_cast<bool>(out.write(p, static_cast<std::streamsize>(n)));
    };
    bool ended = c.method == 0;
    while (remaining > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, inBuf.size()));
        if (!in.read(inBuf.data(), static_cast<std::streamsize>(n))) return (*error = "short zip entry " + c.name, false);
        remaining -= n;
        if (c.method == 0) {
            if (!emit(inBuf.data(), n)) return (*error = "cannot write " + c.name, false);
            continue;
        }
        z.next_in = reinterpret_cast<Bytef*>(inBuf.data());
        z.avail_in = static_cast<uInt>(n);
        while (z.avail_in > 0 && !ended) {
            z.next_out = reinterpret_cast<Bytef*>(outBuf.data());
            z.avail_out = static_cast<uInt>(outBuf.size());
            const int rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) return (*error = "corrupt zip data in " + c.name, false);
            if (!emit(outBuf.data(), outBuf.size() - z.avail_out))
                return (*error = "zip entry larger than announced " + c.name, false);
            ended = rc == Z_STREAM_END;
        }
    }
    if (!ended || written != c.size || crc != c.crc) return (*error = "zip entry check failed " + c.name, false);
    return out.flush() ? true : (*error = "cannot write " + target.string(), false);
}

}  // namespace

bool IsZipArchive(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char sig[4];
    return in.read(reinterpret_cast<char*>(sig), 4) && Le32(sig) == kLocalSig;
}

bool ExtractZipArchive(const fs::path& zip, const fs::path& dest, std::vector<std::string>* names, std::string* error) {
    std::error_code ec;
    const auto fileSize = fs::file_size(zip, ec);
    std::ifstream in(zip, std::ios::binary);
    if (ec || !in) return (*error = "cannot open " + zip.string(), false);
    std::vector<Central> entries;
    if (!ReadDirectory(in, fileSize, &entries, error)) return false;
    fs::create_directories(dest, ec);
    for (const auto& c : entries) {
        if (!SafeEntryName(c.name)) return (*error = "zip entry outside the package folder: " + c.name, false);
        const fs::path target = dest / c.name;
        if (c.name.back() == '/') {
            fs::create_directories(target, ec);
            continue;
        }
        fs::create_directories(target.parent_path(), ec);
        if (!ExtractOne(in, fileSize, c, target, error)) return false;
        if (names) names->push_back(c.name);
    }
    return true;
}

void CZipWriter::Add(const std::string& name, const std::string& data) {
    Entry e;
    e.name = name;
    e.size = static_cast<std::uint32_t>(data.size());
    e.crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    std::string packed(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    deflate(&z, Z_FINISH);
    packed.resize(z.total_out);
    deflateEnd(&z);
    e.compressed = static_cast<std::uint32_t>(packed.size());
    e.offset = static_cast<std::uint32_t>(m_out.size());
    Put32(m_out, kLocalSig);
    Put16(m_out, 20);  // version needed
    Put16(m_out, 0);   // flags
    Put16(m_out, 8);   // deflate
    Put32(m_out, 0);   // time, date
    Put32(m_out, e.crc);
    Put32(m_out, e.compressed);
    Put32(m_out, e.size);
    Put16(m_out, static_cast<std::uint32_t>(name.size()));
    Put16(m_out, 0);
    m_out += name;
    m_out += packed;
    m_entries.push_back(e);
}

std::string CZipWriter::Finish() {
    const auto dirOffset = static_cast<std::uint32_t>(m_out.size());
    for (const auto& e : m_entries) {
        Put32(m_out, kCentralSig);
        Put16(m_out, 20);
        Put16(m_out, 20);
        Put16(m_out, 0);
        Put16(m_out, 8);
        Put32(m_out, 0);
        Put32(m_out, e.crc);
        Put32(m_out, e.compressed);
        Put32(m_out, e.size);
        Put16(m_out, static_cast<std::uint32_t>(e.name.size()));
        Put16(m_out, 0);
        Put16(m_out, 0);
        Put16(m_out, 0);
        Put16(m_out, 0);
        Put32(m_out, 0);
        Put32(m_out, e.offset);
        m_out += e.name;
    }
    const auto dirSize = static_cast<std::uint32_t>(m_out.size() - dirOffset);
    Put32(m_out, kEndSig);
    Put16(m_out, 0);
    Put16(m_out, 0);
    Put16(m_out, static_cast<std::uint32_t>(m_entries.size()));
    Put16(m_out, static_cast<std::uint32_t>(m_entries.size()));
    Put32(m_out, dirSize);
    Put32(m_out, dirOffset);
    Put16(m_out, 0);
    std::string out;
    out.swap(m_out);
    m_entries.clear();
    return out;
}
