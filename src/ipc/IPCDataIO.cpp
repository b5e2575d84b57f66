#include "ipc/IPCDataIO.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

constexpr const char* kWrongMode = "Invalid serialize call type";
constexpr const char* kBadSize = "Invalid buffer size";
constexpr const char* kTooSmall = "Data for unserialize too small";

}  // namespace

void WriteIPCString(IIPCDataIO& io, const std::string& text) {
    if (text.size() > CIPCDataIO::kMaxCapacity) throw std::runtime_error(kBadSize);
    io.WriteInt32(static_cast<std::int32_t>(text.size()));
    io.WriteBytes(text.data(), static_cast<std::uint32_t>(text.size()));
}

std::string ReadIPCString(IIPCDataIO& io) {
    std::uint32_t left = static_cast<std::uint32_t>(io.ReadInt32());
    std::string text;
    char chunk[4096];
    while (left > 0) {
        const std::uint32_t n = std::min<std::uint32_t>(left, sizeof(chunk));
        io.ReadBytes(chunk, n);
        text.append(chunk, n);
        left -= n;
    }
    return text;
}

CIPCDataIO::CIPCDataIO(tagIPC_MESSAGE_ITEM& item, EMode mode, std::uint32_t nGranularity)
    : m_nGranularity(nGranularity == 0 ? 1 : nGranularity),
      m_nMode(mode),
      m_bOwnsBuffer(mode == kWriting ? 1 : 0),
      m_pItem(&item) {
    if (m_bOwnsBuffer) {
        item.pszMessage = nullptr;
        item.nMessageLen = 0;
    }
}

CIPCDataIO::~CIPCDataIO() {
    if (!m_bOwnsBuffer) return;
    delete[] m_pItem->pszMessage;
    m_pItem->pszMessage = nullptr;
    m_pItem->nMessageLen = 0;
}

void CIPCDataIO::RequireMode(EMode mode) const {
    if (m_nMode != mode) throw std::runtime_error(kWrongMode);
}

void CIPCDataIO::Reserve(std::uint32_t nBytes) {
    RequireMode(kWriting);
    const std::uint64_t capacity = static_cast<std::uint32_t>(m_pItem->nMessageLen);
    const std::uint64_t wanted = static_cast<std::uint64_t>(m_nPosition) + nBytes;
    if (wanted <= capacity) return;
    // The limit is on what was asked for; rounding up to the granularity may pass it.
    if (wanted > kMaxCapacity) throw std::runtime_error(kBadSize);
    const std::uint64_t grown = (wanted + m_nGranularity - 1) / m_nGranularity * m_nGranularity;
    auto buffer = std::make_unique<char[]>(grown);  // zero-filled
    if (m_nPosition > 0) std::memcpy(buffer.get(), m_pItem->pszMessage, m_nPosition);
    delete[] m_pItem->pszMessage;
    m_pItem->pszMessage = buffer.release();
    m_pItem->nMessageLen = static_cast<std::int32_t>(grown);
}

void CIPCDataIO::WriteInt32(std::int32_t nValue) {
    const auto u = static_cast<std::uint32_t>(nValue);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                                   static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
    WriteBytes(bytes, sizeof(bytes));
}

void CIPCDataIO::WriteByte(std::uint8_t nValue) { WriteBytes(&nValue, 1); }

void CIPCDataIO::WriteBytes(const void* pData, std::uint32_t nBytes) {
    Reserve(nBytes);
    if (nBytes > 0) std::memcpy(m_pItem->pszMessage + m_nPosition, pData, nBytes);
    m_nPosition += nBytes;
}

std::int32_t CIPCDataIO::ReadInt32() {
    std::uint8_t b[4];
    ReadBytes(b, sizeof(b));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                     (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24));
}

std::uint8_t CIPCDataIO::ReadByte() {
    std::uint8_t b = 0;
    ReadBytes(&b, 1);
    return b;
}

void CIPCDataIO::ReadBytes(void* pData, std::uint32_t nBytes) {
    RequireMode(kReading);
    const std::uint64_t available =
        m_pItem->pszMessage == nullptr || m_pItem->nMessageLen < 0 ? 0 : static_cast<std::uint64_t>(m_pItem->nMessageLen);
    if (static_cast<std::uint64_t>(m_nPosition) + nBytes > available) throw std::runtime_error(kTooSmall);
    if (nBytes > 0) std::memcpy(pData, m_pItem->pszMessage + m_nPosition, nBytes);
    m_nPosition += nBytes;
}
