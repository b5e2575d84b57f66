// A file read and written through its handle: for data streamed to disk in pieces (a download's
// part file), where a stream's buffering and error reporting get in the way. One owner thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace plat {

enum class FileError { None, DiskFull, Other };

class CFile {
public:
    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile();

    // Opens `path` for reading and writing, creating it when absent; the position is at its end
    // when `append` (else at its start), and `truncate` empties it first.
    bool Open(const std::filesystem::path& path, bool append, bool truncate = false);
    // Opens an existing file for reading only.
    bool OpenForReading(const std::filesystem::path& path);
    bool IsOpen() const { return m_fd >= 0; }
    std::uint64_t Size() const;
    // Empties the file and puts the position at its start.
    bool Truncate();
    // Writes all of `data` at the position and moves it on.
    bool WriteAll(const char* data, std::size_t size);
    // Reads up to `size` bytes at `offset` without moving the position; bytes read, -1 on error.
    long ReadAt(char* buffer, std::size_t size, std::uint64_t offset) const;
    void Close();

    // What the last failed call ran into, and the system's words for it.
    FileError LastError() const { return m_lastError; }
    const std::string& LastErrorText() const { return m_lastErrorText; }

private:
    // The backend's own steps, under the opening that both backends share: a handle of `path`
    // (created when absent if `write`), -1 with the reason left for Failed; and the position put
    // at the end, false after Failed.
    static int OpenHandle(const std::filesystem::path& path, bool write);
    bool SeekToEnd();
    bool Failed();

    int m_fd = -1;
    FileError m_lastError = FileError::None;
    std::string m_lastErrorText;
};

}  // namespace plat
