// A fresh machine with an in-process IPC hub, a file:// update service folder and the fake clock,
// for tests of the service object.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataReport/BIDataReport.h"
#include "IPCMessage/IPCHub.h"
#include "ServeKit/CatalogueMaker.h"
#include "TestMachine.h"
#include "service/KVAServerQuery.h"

namespace kvatest {

class CServiceTest : public CTestMachine {
protected:
    void SetUp() override;
    void TearDown() override;

    // The update service folder (file://), created empty.
    std::string ServiceUrl() const;
    std::filesystem::path ServiceFolder() const;

    // Writes a signed catalogue for this machine into ServiceFolder() holding what `fill` adds,
    // and sets the configuration's maker key to the one that signed it (after WriteCommonConfig).
    void WriteCatalogue(const std::function<void(CCatalogueMaker&)>& fill = {});

    std::unique_ptr<CKVAServerQuery> Start();
    // Waits until the service's threads (query, reporting, install, UI) and any thread the test
    // started with CClock::Tracked all wait on the clock or have ended: nothing more happens until
    // the test moves time or sets an event. False after 10 s of real time.
    static bool WaitUntilIdle();
    static std::vector<DataEventRecord> Events(int shortNumber);
    std::wstring SettingKey() const;
    std::wstring UserKey(const wchar_t* tail) const;

    std::unique_ptr<ipcmsg::CHub> m_hub;
};

}  // namespace kvatest
