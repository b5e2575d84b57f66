#include "Util/CommonCfgMgr.h"

#include <mutex>
#include <set>

#include <pugixml.hpp>

#include "Util/SuitePaths.h"
#include "kva/platform/Log.h"
#include "kva/platform/Paths.h"

struct CCommonCfgMgr::Impl {
    struct Values {
        bool enable = true;
        int initTime = 5;
        int period = 240;
        bool force = true;
        int battery = 0;
        std::set<std::string> idleNames;
        std::string url;
        std::string publicKey;
    };

    std::mutex mtx;
    Values values;
    std::filesystem::file_time_type loadedStamp{};
    bool loadedOnce = false;
    bool existedAtLoad = false;
    std::filesystem::path loadedPath;

    // REQUIRES: mtx held. Reloads when the file appeared, vanished or changed.
    const Values& Current() {
        std::error_code ec;
        const auto path = FilePath();
        const bool exists = std::filesystem::exists(path, ec);
        const auto stamp = exists ? std::filesystem::last_write_time(path, ec) : std::filesystem::file_time_type{};
        if (loadedOnce && path == loadedPath && exists == existedAtLoad && stamp == loadedStamp) return values;
        loadedOnce = true;
        loadedPath = path;
        existedAtLoad = exists;
        loadedStamp = stamp;
        values = Values{};
        if (exists) Load(path);
        return values;
    }

    void Load(const std::filesystem::path& path) {
        pugi::xml_document doc;
        const auto result = doc.load_file(path.c_str());
        if (!result) {
            KVA_LOG_ERROR("cannot read " << path.string() << ": " << result.description());
            return;
        }
        const auto root = doc.child("commoncfg");
        const auto service = root.child("UpdateService");
        values.url = service.attribute("url").as_string();
        values.publicKey = service.attribute("publicKey").as_string();
        const auto update = root.child("Update");
        values.enable = update.attribute("enable").as_bool(true);
        values.initTime = update.attribute("initTime").as_int(5);
        values.period = update.attribute("queryPeriod").as_int(240);
        values.force = update.attribute("forceUpdate").as_bool(true);
        values.battery = update.attribute("batteryPercent").as_int(0);
        for (auto idle : update.children("IdleUpdate")) values.idleNames.insert(idle.attribute("name").as_string());
    }
};

CCommonCfgMgr& CCommonCfgMgr::getInstance() { return TheInstance(); }

std::filesystem::path CCommonCfgMgr::FilePath() {
    return plat::ToHostPath(suite::ConfigFolder() + "\\commoncfg.xml");
}

#define KVA_CFG_GET(expr)                      \
    std::lock_guard lock(m_impl->mtx);         \
    const auto& v = m_impl->Current();         \
    return expr

bool CCommonCfgMgr::isEnableUpdate() { KVA_CFG_GET(v.enable); }
int CCommonCfgMgr::getInitTime() { KVA_CFG_GET(v.initTime); }
int CCommonCfgMgr::getQueryLocalPeriod() { KVA_CFG_GET(v.period); }
bool CCommonCfgMgr::EnableForceUpdate() { KVA_CFG_GET(v.force); }
int CCommonCfgMgr::getBatteryPrecent() { KVA_CFG_GET(v.battery); }
bool CCommonCfgMgr::IsSupportIdleUpdate(const std::string& name) { KVA_CFG_GET(v.idleNames.count(name) > 0); }
std::set<std::string> CCommonCfgMgr::GetIdleUpdateNames() { KVA_CFG_GET(v.idleNames); }
std::string CCommonCfgMgr::GetUpdateServiceUrl() { KVA_CFG_GET(v.url); }
std::string CCommonCfgMgr::GetMakerPublicKey() { KVA_CFG_GET(v.publicKey); }
