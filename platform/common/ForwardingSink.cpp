#include "ForwardingSink.h"

namespace plat::detail {

CForwardingSink::CForwardingSink(IWbemObjectSink* target) : m_target(target) { m_target->AddRef(); }

CForwardingSink::~CForwardingSink() { m_target->Release(); }

HRESULT CForwardingSink::QueryInterface(Iid iid, void** out) {
    if (!out) return kEPointer;
    if (iid != Iid::Unknown && iid != Iid::WbemObjectSink) {
        *out = nullptr;
        return kENoInterface;
    }
    AddRef();
    *out = static_cast<IWbemObjectSink*>(this);
    return kSOk;
}

std::uint32_t CForwardingSink::AddRef() { return ++m_refs; }

std::uint32_t CForwardingSink::Release() {
    const std::uint32_t left = --m_refs;
    if (left == 0) delete this;
    return left;
}

HRESULT CForwardingSink::Indicate(long count, const WmiRow* objects) { return m_target->Indicate(count, objects); }

HRESULT CForwardingSink::SetStatus(long flags, HRESULT result) { return m_target->SetStatus(flags, result); }

}  // namespace plat::detail
