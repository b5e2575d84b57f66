// The package archive: a zip file (stored or deflated entries, no zip64, no encryption), enough for
// the suite's packages. The reader refuses entries that would land outside the target folder,
// sizes that disagree with the directory, and bad checksums.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// True when the file starts like a zip archive.
bool IsZipArchive(const std::filesystem::path& file);

// Unpacks every entry below `dest` (created). `names` gets the entries' relative paths ('/'
// separators) in archive order. False with `error` set on the first problem; what was written
// stays for the caller to remove.
bool ExtractZipArchive(const std::filesystem::path& zip, const std::filesystem::path& dest,
                       std::vector<std::string>* names, std::string* error);

// Builds an archive in memory, deflating every entry.
class CZipWriter {
public:
    void Add(const std::string& name, const std::string& data);
    std::string Finish();

private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0, compressed = 0, size = 0, offset = 0;
    };
    std::string m_out;
    std::vector<Entry> m_entries;
};
