// Answers to the UI's BIOS-version, firmware-version and WinPE questions.
#include <nlohmann/json.hpp>

#include "kva/platform/Log.h"
#include "kva/platform/Module.h"
#include "service/KVAServerQuery.h"
#include "Util/MemberList.h"

namespace {

// The request and answer of the BIOS and firmware queries.
struct CVersionQuery {
    int drvType = 0;
    std::string strDriverID;
    std::string strDrvName;
    std::string strFilePath;
    std::string strVersion;
    int result = 0;

    // Assigns only the keys present with the right type; text that is not JSON changes nothing.
    void Parse(const char* text, int length);
    std::string Dump() const;
};

// Each member's JSON key is its name; the answer keeps this order.
template <class Visit>
void VersionQueryMembers(Visit&& visit) {
    KVA_FOR_EACH_MEMBER(visit, drvType, strDriverID, strDrvName, strFilePath, strVersion, result);
}

void CVersionQuery::Parse(const char* text, int length) {
    const char* end = text + std::max(length, 0);
    auto j = nlohmann::json::parse(text, end, nullptr, false);
    if (!j.is_object()) return;
    VersionQueryMembers([&](const char* key, auto member) {
        auto& field = member(*this);
        auto it = j.find(key);
        if (it == j.end()) return;
        using T = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<T, int>) {
            if (it->is_number_integer()) field = it->template get<int>();
        } else {
            if (it->is_string()) field = it->template get<std::string>();
        }
    });
}

std::string CVersionQuery::Dump() const {
    nlohmann::ordered_json j;
    VersionQueryMembers([&](const char* key, auto member) { j[key] = member(*this); });
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

using GetFWVersionFn = std::string (*)(const std::string&, const std::string&, std::string&, int&);
using CheckWinPEFn = int (*)(const wchar_t*, const wchar_t*);

}  // namespace

void CKVAServerQuery::OnRecvQueryBIOS(tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage) {
        KVA_LOG_ERROR("pszMsg is null");
        return;
    }
    CVersionQuery q;
    q.Parse(item.pszMessage, item.nMessageLen);
    q.strVersion.assign(1, '0');  // not `= "0"`: GCC 12 reports a false -Wrestrict on it here
    q.result = 0;
    {
        std::lock_guard lock(m_mtxTables);
        for (const PackageTable* table : {&m_mapIdleDriver, &m_mapForceDriver}) {
            auto it = table->find(q.strDriverID);
            if (it != table->end() && it->second.state == PACKAGE_INSTALLED) {
                q.strVersion = it->second.strNextVersion;
                q.result = 1;
            }
        }
    }
    const std::string body = q.Dump();
    if (!PostReply(item, body.c_str(), static_cast<int>(body.size()))) KVA_LOG_ERROR("post msg to bios version failed");
}

void CKVAServerQuery::OnRecvGetFWVersion(tagIPC_MESSAGE_ITEM& item) {
    if (!item.pszMessage) {
        KVA_LOG_ERROR("recv mesg is null");
        return;
    }
    CVersionQuery q;
    q.Parse(item.pszMessage, item.nMessageLen);
    auto fn = m_hDriverCurVersion
                  ? reinterpret_cast<GetFWVersionFn>(plat::GetModuleExport(m_hDriverCurVersion, "GetFWVersion"))
                  : nullptr;
    if (!fn) {
        KVA_LOG_ERROR("pGetVersion is null");
        return;
    }
    std::string detail;
    q.strVersion = fn(q.strDriverID, q.strDrvName, detail, q.result);
    const std::string body = q.Dump();
    if (!PostReply(item, body.c_str(), static_cast<int>(body.size()))) {
        KVA_LOG_ERROR("post get fwversion msg to kvadownload failed");
    }
}

void CKVAServerQuery::OnRecvCheckWinPE(tagIPC_MESSAGE_ITEM& item) {
    const std::wstring exe = plat::HostExecutablePath();
    const auto slash = exe.find_last_of(L"/\\");
    if (exe.empty() || slash == std::wstring::npos) {
        KVA_LOG_ERROR("failed to get module path, errcode: " << plat::GetLastError());
        return;
    }
    plat::HMODULE lib = plat::LoadModule(exe.substr(0, slash) + L"\\plugins\\CheckWinPE.dll");
    if (!lib) {
        KVA_LOG_ERROR("CheckOnekeyIsOK: LoadLibrary false.errorno = " << plat::GetLastError());
        return;
    }
    auto fn = reinterpret_cast<CheckWinPEFn>(plat::GetModuleExport(lib, "CheckWinPE"));
    if (!fn) {
        KVA_LOG_ERROR("pCheckWinPE is null");
        plat::FreeModule(lib);
        return;
    }
    wchar_t path[260] = L"C:\\sources\\boot.wim";
    const int rc = fn(L"WinPE", path);
    plat::FreeModule(lib);
    char answer = 0;
    if (rc == 0) {
        KVA_LOG_WARN("CheckWinPE is OK ");
        answer = 1;
    } else {
        KVA_LOG_ERROR("CheckWinPE is faild, errcode is " << rc);
    }
    if (!PostReply(item, &answer, 1)) KVA_LOG_ERROR("post msg to check winpe failed");
}
