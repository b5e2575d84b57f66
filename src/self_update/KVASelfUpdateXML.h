// The controller of the application-update notice of the suite's message centre: it shows the
// notice for the application's new version. UI thread.
#pragma once

#include "KVADownload/UpdateInfo.h"

class KVASelfUpdateXML {
public:
    static KVASelfUpdateXML* GetInstance();

    // Shows the notice for this application-update record.
    void SetDriverVersionInfo(const _TOBEUPDATE_DRIVER_INFO& info);

private:
    KVASelfUpdateXML() = default;
};
