#include "ChangeCounter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace plat::sim {

namespace {

constexpr std::size_t kMapSize = 4096;

std::atomic_ref<std::uint64_t> Word(std::uint64_t* word) { return std::atomic_ref<std::uint64_t>(*word); }

}  // namespace

CChangeCounter::~CChangeCounter() {
    if (m_word) munmap(m_word, kMapSize);
}

bool CChangeCounter::Open(const std::filesystem::path& file) {
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    struct stat st {};
    // Several processes may grow it at once; they all grow it to the same size, with zeros.
    bool ok = fstat(fd, &st) == 0 && (st.st_size >= static_cast<off_t>(kMapSize) || ftruncate(fd, kMapSize) == 0);
    void* map = ok ? mmap(nullptr, kMapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED) return false;
    static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "the counter is shared between processes");
    m_word = static_cast<std::uint64_t*>(map);
    return true;
}

std::optional<std::uint64_t> CChangeCounter::Stable() const {
    if (!m_word) return std::nullopt;
    const std::uint64_t v = Word(m_word).load();
    if (v % 2 != 0) return std::nullopt;
    return v;
}

void CChangeCounter::BeginWrite() {
    if (!m_word) return;
    // Odd already: a writer died in the middle; stay odd but move on, so no reader takes this
    // value for one it kept.
    const std::uint64_t v = Word(m_word).load();
    Word(m_word).store(v % 2 != 0 ? v + 2 : v + 1);
}

void CChangeCounter::EndWrite() {
    if (!m_word) return;
    const std::uint64_t v = Word(m_word).load();
    if (v % 2 != 0) Word(m_word).store(v + 1);
}

}  // namespace plat::sim
