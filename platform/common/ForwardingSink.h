// The stub of an unsecured apartment, as both backends hand it out: a sink of its own that passes
// events on to the client's sink and holds one reference to it until the stub goes. It owns itself
// through its count; internal to the platform library.
#pragma once

#include <atomic>
#include <cstdint>

#include "kva/platform/AcpiWmi.h"

namespace plat::detail {

class CForwardingSink : public IWbemObjectSink {
public:
    explicit CForwardingSink(IWbemObjectSink* target);

    HRESULT QueryInterface(Iid iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    HRESULT Indicate(long count, const WmiRow* objects) override;
    HRESULT SetStatus(long flags, HRESULT result) override;

protected:
    ~CForwardingSink() override;

private:
    std::atomic<std::uint32_t> m_refs{1};
    IWbemObjectSink* m_target;
};

}  // namespace plat::detail
