#include "firmware/EventSink.h"

#include <charconv>
#include <cstdio>

#include "kva/platform/DebugOutput.h"

namespace {
std::atomic<std::size_t> g_liveSinks{0};
}

CEventSink::CEventSink(EventIdCallback callback) : m_callback(callback) { ++g_liveSinks; }

CEventSink::~CEventSink() { --g_liveSinks; }

std::size_t CEventSink::LiveCount() { return g_liveSinks.load(); }

plat::HRESULT CEventSink::QueryInterface(plat::Iid iid, void** out) {
    if (!out) return plat::kEPointer;
    if (iid == plat::Iid::Unknown || iid == plat::Iid::WbemObjectSink) {
        *out = static_cast<plat::IWbemObjectSink*>(this);
        AddRef();
        return plat::kSOk;
    }
    *out = nullptr;
    return plat::kENoInterface;
}

std::uint32_t CEventSink::AddRef() { return static_cast<std::uint32_t>(++m_lRef); }

std::uint32_t CEventSink::Release() {
    const std::int32_t left = --m_lRef;
    if (left == 0) {
        m_bDone = true;
        delete this;
    }
    return static_cast<std::uint32_t>(left);
}

plat::HRESULT CEventSink::Indicate(long count, const plat::WmiRow* objects) {
    for (long i = 0; objects && i < count; ++i) {
        std::printf("Event Occur\n");
        plat::OutputDebugString(L"CEventSink::Indicate Event Occur");
        auto cls = objects[i].find("__Class");
        if (cls == objects[i].end() || cls->second != "OemWMIEvent") continue;
        std::printf("OemWMIEvent Occur\n");
        auto force = objects[i].find("Force");
        if (force == objects[i].end()) continue;
        std::uint32_t id = 0;
        const auto& text = force->second;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
        if (ec != std::errc() || end != text.data() + text.size()) continue;
        std::printf("The Event ID : %u\n", id);
        if (m_callback) m_callback(id);
    }
    std::fflush(stdout);
    return plat::kSOk;
}

plat::HRESULT CEventSink::SetStatus(long flags, plat::HRESULT result) {
    if (flags == plat::kWbemStatusComplete) {
        std::printf("Call complete. hResult = 0x%X\n", static_cast<unsigned>(result));
    } else if (flags == plat::kWbemStatusProgress) {
        std::printf("Call in progress.\n");
    }
    return plat::kSOk;
}
