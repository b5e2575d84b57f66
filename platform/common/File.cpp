// The opening steps of CFile both backends share, on their OpenHandle and SeekToEnd.
#include "kva/platform/File.h"

namespace plat {

CFile::~CFile() { Close(); }

bool CFile::Open(const std::filesystem::path& path, bool append, bool truncate) {
    Close();
    m_fd = OpenHandle(path, true);
    if (m_fd < 0) return Failed();
    if ((truncate && !Truncate()) || (append && !SeekToEnd())) {
        Close();
        return false;
    }
    return true;
}

bool CFile::OpenForReading(const std::filesystem::path& path) {
    Close();
    m_fd = OpenHandle(path, false);
    return m_fd >= 0 || Failed();
}

}  // namespace plat
