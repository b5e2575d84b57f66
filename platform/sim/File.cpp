#include "kva/platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "../common/FactOverrides.h"

namespace plat {

namespace {

// The machine's "disk-free" override also bounds what a write may add, so a disk can fill up
// under a running write. Read at most every 100 ms: writes come in small pieces.
bool DiskHasRoomFor(std::size_t size) {
    using Steady = std::chrono::steady_clock;
    static std::mutex m;
    static Steady::time_point next;
    static std::optional<std::uint64_t> limit;
    std::lock_guard lock(m);
    if (const auto now = Steady::now(); now >= next) {
        std::uint64_t free = UINT64_MAX, freeToCaller = UINT64_MAX;
        facts::ApplyDiskOverride(&freeToCaller, &free);
        limit = freeToCaller == UINT64_MAX ? std::nullopt : std::optional<std::uint64_t>(freeToCaller);
        next = now + std::chrono::milliseconds(100);
    }
    return !limit || *limit >= size;
}

}  // namespace

int CFile::OpenHandle(const std::filesystem::path& path, bool write) {
    return ::open(path.c_str(), write ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC, 0644);
}

bool CFile::SeekToEnd() { return ::lseek(m_fd, 0, SEEK_END) >= 0 || Failed(); }

bool CFile::Failed() {
    m_lastError = errno == ENOSPC || errno == EDQUOT ? FileError::DiskFull : FileError::Other;
    m_lastErrorText = std::strerror(errno);
    return false;
}

std::uint64_t CFile::Size() const {
    struct stat st {};
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool CFile::Truncate() {
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) return Failed();
    return true;
}

bool CFile::WriteAll(const char* data, std::size_t size) {
    if (!DiskHasRoomFor(size)) {
        errno = ENOSPC;
        return Failed();
    }
    while (size > 0) {
        const ssize_t w = ::write(m_fd, data, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            return Failed();
        }
        data += w;
        size -= static_cast<std::size_t>(w);
    }
    return true;
}

long CFile::ReadAt(char* buffer, std::size_t size, std::uint64_t offset) const {
    for (;;) {
        const ssize_t n = ::pread(m_fd, buffer, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

void CFile::Close() {
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
}

}  // namespace plat
