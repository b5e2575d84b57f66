// Asking for the restart once the installs that need it are done: the install thread decides, the
// UI thread shows the reminder and sends the message centre its request.
#include <cstring>
#include <string>

#include "DuiLib/UIMainQueue.h"
#include "IPCMessage/IPCMessageClient.h"
#include "common/FullScreenProbe.h"
#include "install/ForceUpRemindRestartManager.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/Log.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr std::uint32_t kFullScreenPollMs = 60000;
constexpr std::uint32_t kRestartWndStyle = 0x96C80000;
constexpr std::uint32_t kRestartWndExStyle = 0x20080;
constexpr int kOffScreenX = 9999;

struct CInstalledLevel {
    int installed = 0;
    _RESTART_SYSTEM_LEVEL level = RESTART_LEVEL_NONE;
};

void CountInstalled(const CKVAServerQuery::PackageTable& table, CInstalledLevel& out) {
    for (const auto& [id, entry] : table) {
        if (entry.state != PACKAGE_INSTALLED) continue;
        ++out.installed;
        if (entry.GetRestartLevel() > out.level) out.level = entry.GetRestartLevel();
    }
}

}  // namespace

void CKVAServerQuery::CheckRestartWnd() {
    CInstalledLevel found;
    std::size_t forced = 0, idle = 0;
    {
        std::lock_guard lock(m_mtxTables);
        CountInstalled(m_mapIdleDriver, found);
        CountInstalled(m_mapForceDriver, found);
        forced = m_mapForceDriver.size();
        idle = m_mapIdleDriver.size();
    }
    if (found.level == RESTART_LEVEL_NONE) return;
    const std::size_t expected = forced + (IsDriverSwitchOpen() ? idle : 0);
    if (static_cast<std::size_t>(found.installed) < expected) return;  // more packages are to come
    if (!m_bSourceComplete[1]) {
        KVA_LOG_ERROR("manual update now");
        return;
    }
    while (IsFullscreen()) {
        KVA_LOG_WARN("is full now");
        if (!plat::Sleep(kFullScreenPollMs, &m_evStop)) return;
    }
    const _RESTART_SYSTEM_LEVEL level = found.level;
    DuiLib::UIMainQueue::getInstance()->dispatch([this, level] {
        if (m_pRestartUI && plat::IsWindowShown(m_pRestartUI->GetHWND())) {
            KVA_LOG_WARN("RestartWindow is show now!");
            return;
        }
        ShowRestartWindowByMC(m_bIdleRestartFound ? DRIVER_UPDATE_IDLE : DRIVER_UPDATE_FORCE, level);
    });
}

void CKVAServerQuery::ShowRestartWindowByMC(_DRIVER_UPDATE_TYPE type, _RESTART_SYSTEM_LEVEL level) {
    delete m_pRestartUI;
    m_pRestartUI = new (std::nothrow) ForceUpRemindRestartManager(type, level);
    if (!m_pRestartUI) {
        KVA_LOG_ERROR("new  m_pRestartUI NULL.");
        return;
    }
    if (!m_pRestartUI->Create(0, L"", kRestartWndStyle, kRestartWndExStyle)) {
        KVA_LOG_ERROR("the restart reminder window cannot be created");
        return;
    }
    m_pRestartUI->SetWindowPos(DuiLib::HWND_TOPMOST, kOffScreenX, 0, 0, 0, DuiLib::SWP_NOSIZE | DuiLib::SWP_NOACTIVATE);
    m_pRestartUI->m_ipcClient = &m_ipcClient;
    m_pRestartUI->ShowWindow(false, true);
    m_pRestartUI->PostPoPupMsgToMC();
}

void CKVAServerQuery::OnRecvPopRestartWnd(tagIPC_MESSAGE_ITEM& item) {
    if (item.nMessageLen == 0 || !item.pszMessage) {
        KVA_LOG_ERROR("stMessage.nMessageLen==0 or pszMessage is null");
        return;
    }
    const std::size_t max = item.nMessageLen > 0 ? static_cast<std::size_t>(item.nMessageLen) : 0;
    const std::string text(item.pszMessage, strnlen(item.pszMessage, max));
    const _RESTART_SYSTEM_LEVEL level = text == "shutdown" ? RESTART_LEVEL_2
                                        : text == "reboot" ? RESTART_LEVEL_1
                                                           : RESTART_LEVEL_3;
    DuiLib::UIMainQueue::getInstance()->dispatch(
        [this, level] { ShowRestartWindowByMC(DRIVER_UPDATE_DEFAULT, level); });
}
