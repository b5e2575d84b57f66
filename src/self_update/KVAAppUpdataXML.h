// The controller of the driver-update notice of the suite's message centre: it holds the packages
// the user is offered and builds the notice from them.
//
// For now it keeps the list and counts the notices asked for (GetDriverItem); the notice itself,
// its tips and the user's answers come with the notice-controller work. UI thread.
#pragma once

#include <mutex>
#include <vector>

#include "KVADownload/UpdateInfo.h"

class KVAAppUpdataXML {
public:
    static KVAAppUpdataXML* GetInstance();

    void SetDriverList(std::vector<_TOBEUPDATE_DRIVER_INFO> drivers);
    std::vector<_TOBEUPDATE_DRIVER_INFO> DriverList();
    // Builds the notice for the pending drivers; false when there are none.
    bool GetDriverItem();
    int NoticesRequested();

private:
    KVAAppUpdataXML() = default;

    std::mutex m_mtx;
    std::vector<_TOBEUPDATE_DRIVER_INFO> m_drivers;  // guarded by m_mtx
    int m_noticesRequested = 0;                       // guarded by m_mtx
};
