// Files through their kernel handle. Only the low 32 bits of a kernel handle are significant, so
// the handle is kept in the port's int (HandleToLong); INVALID_HANDLE_VALUE becomes -1.
#include "kva/platform/File.h"

#include <algorithm>
#include <utility>

#include "Win32.h"

namespace plat {

namespace {

HANDLE Native(int fd) { return fd < 0 ? INVALID_HANDLE_VALUE : LongToHandle(fd); }

bool MoveTo(HANDLE h, std::int64_t offset, DWORD from, std::int64_t* now = nullptr) {
    LARGE_INTEGER to{}, at{};
    to.QuadPart = offset;
    if (!::SetFilePointerEx(h, to, &at, from)) return false;
    if (now) *now = at.QuadPart;
    return true;
}

}  // namespace

int CFile::OpenHandle(const std::filesystem::path& path, bool write) {
    // Others may read, write, rename or delete the file while it is open, as on POSIX.
    const HANDLE h = ::CreateFileW(path.wstring().c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   write ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(HandleToLong(h));
}

bool CFile::SeekToEnd() { return MoveTo(Native(m_fd), 0, FILE_END) || Failed(); }

bool CFile::Failed() {
    const DWORD code = ::GetLastError();
    m_lastError = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? FileError::DiskFull : FileError::Other;
    m_lastErrorText = win32::SystemErrorText(code);
    return false;
}

std::uint64_t CFile::Size() const {
    LARGE_INTEGER size{};
    return m_fd >= 0 && ::GetFileSizeEx(Native(m_fd), &size) && size.QuadPart > 0
               ? static_cast<std::uint64_t>(size.QuadPart)
               : 0;
}

bool CFile::Truncate() {
    if (!MoveTo(Native(m_fd), 0, FILE_BEGIN) || !::SetEndOfFile(Native(m_fd))) return Failed();
    return true;
}

bool CFile::WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(Native(m_fd), data, chunk, &written, nullptr)) return Failed();
        data += written;
        size -= written;
    }
    return true;
}

long CFile::ReadAt(char* buffer, std::size_t size, std::uint64_t offset) const {
    // A read at an offset moves a synchronous handle's position: put it back afterwards.
    const HANDLE h = Native(m_fd);
    std::int64_t position = 0;
    if (m_fd < 0 || !MoveTo(h, 0, FILE_CURRENT, &position)) return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    const bool ok = ::ReadFile(h, buffer, chunk, &got, &at) || ::GetLastError() == ERROR_HANDLE_EOF;
    MoveTo(h, position, FILE_BEGIN);
    return ok ? static_cast<long>(got) : -1;
}

void CFile::Close() {
    if (m_fd >= 0) ::CloseHandle(Native(std::exchange(m_fd, -1)));
}

}  // namespace plat
