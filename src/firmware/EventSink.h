// The WMI event sink of the PD upgrade: passes the id of every "OemWMIEvent" it is given to a
// plain callback. COM-style: it owns itself through an atomic reference count and is deleted when
// the count reaches zero. Indicate and SetStatus run on a WMI delivery thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kva/platform/AcpiWmi.h"

class CEventSink final : public plat::IWbemObjectSink {
public:
    using EventIdCallback = void (*)(std::uint32_t);

    // Starts with a count of 0: the creator takes the first reference.
    explicit CEventSink(EventIdCallback callback);

    plat::HRESULT QueryInterface(plat::Iid iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    plat::HRESULT Indicate(long count, const plat::WmiRow* objects) override;
    plat::HRESULT SetStatus(long flags, plat::HRESULT result) override;

    // Sinks made and not yet deleted in this process.
    static std::size_t LiveCount();

private:
    ~CEventSink() override;

    std::atomic<std::int32_t> m_lRef{0};
    std::atomic<bool> m_bDone{false};
    EventIdCallback m_callback;
};
