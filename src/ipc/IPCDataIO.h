// CIPCDataIO: a cursor over the payload of one tagIPC_MESSAGE_ITEM, for records that travel in
// binary form (typed requests, IPCServer.h). Integers are little-endian; a string is an unsigned
// 32-bit length followed by that many bytes, no terminator.
//
// A reading cursor never owns the payload and leaves the item untouched. A writing cursor owns
// the buffer it grows on the item (pszMessage is the buffer, nMessageLen its capacity) and, when
// it ends, frees it and detaches it from the item: post the item, or copy Position() bytes out,
// while the cursor lives.
//
// Errors are std::runtime_error: "Invalid serialize call type" (a call of the wrong mode),
// "Invalid buffer size" (a capacity above 0xFFFFFFF bytes), "Data for unserialize too small" (a
// read past nMessageLen). One cursor belongs to one thread.
#pragma once

#include <cstdint>
#include <string>

#include "IPCMessage/IPCMessageItem.h"

// The operations in their slot order.
class IIPCDataIO {
public:
    virtual void Reserve(std::uint32_t nBytes) = 0;                      // 0
    virtual void WriteInt32(std::int32_t nValue) = 0;                    // 1
    virtual void WriteByte(std::uint8_t nValue) = 0;                     // 2
    virtual void WriteBytes(const void* pData, std::uint32_t nBytes) = 0;  // 3
    virtual std::int32_t ReadInt32() = 0;                                // 4
    virtual std::uint8_t ReadByte() = 0;                                 // 5
    virtual void ReadBytes(void* pData, std::uint32_t nBytes) = 0;       // 6

protected:
    ~IIPCDataIO() = default;
};

void WriteIPCString(IIPCDataIO& io, const std::string& text);
// Memory grows only with the bytes actually present, whatever the length field claims.
std::string ReadIPCString(IIPCDataIO& io);

class CIPCDataIO final : public IIPCDataIO {
public:
    enum EMode : std::uint8_t { kWriting = 0, kReading = 1 };
    static constexpr std::uint32_t kDefaultGranularity = 64;
    static constexpr std::uint32_t kMaxCapacity = 0xFFFFFFF;

    // Reading: over the item's payload as it is. Writing: starts an empty buffer of its own on the
    // item (the item's former payload pointer is neither used nor freed).
    CIPCDataIO(tagIPC_MESSAGE_ITEM& item, EMode mode, std::uint32_t nGranularity = kDefaultGranularity);
    CIPCDataIO(const CIPCDataIO&) = delete;
    CIPCDataIO& operator=(const CIPCDataIO&) = delete;
    ~CIPCDataIO();

    void Reserve(std::uint32_t nBytes) override;
    void WriteInt32(std::int32_t nValue) override;
    void WriteByte(std::uint8_t nValue) override;
    void WriteBytes(const void* pData, std::uint32_t nBytes) override;
    std::int32_t ReadInt32() override;
    std::uint8_t ReadByte() override;
    void ReadBytes(void* pData, std::uint32_t nBytes) override;

    std::uint32_t Position() const { return m_nPosition; }

private:
    void RequireMode(EMode mode) const;

    std::uint32_t m_nGranularity;
    std::uint8_t m_nMode;
    std::uint8_t m_bOwnsBuffer;
    std::uint32_t m_nPosition = 0;
    tagIPC_MESSAGE_ITEM* m_pItem;
};
