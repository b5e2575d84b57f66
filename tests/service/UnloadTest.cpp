// Unloading the host destroys the library's statics in reverse order of construction. The
// service's destructor still runs the UI tasks queued before it, and those use the notice
// controllers, so the controllers must be destroyed after the service.
#include <cstdlib>

#include "DuiLib/UIMainQueue.h"
#include "KVADownload/DriverDownloadManager.h"
#include "TestMachine.h"
#include "kva/platform/Clock.h"
#include "self_update/KVAAppUpdataXML.h"
#include "service/KVAServerQuery.h"

namespace {

class UnloadTest : public kvatest::CTestMachine {};

// Runs in a child process: started as the host starts it, with the driver notice up and a UI task
// that looks at the notice once the service's destructor has begun. Ends the child itself.
[[noreturn]] void ExitWhileAUiTaskWaitsForTheServicesEnd() {
    // In the host the window library is a library of its own that outlives this one; here every
    // static shares one order, so its queue is made first.
    DuiLib::UIMainQueue::getInstance();
    StartKVAServerQuery();
    KVAAppUpdataXML* notice = KVAAppUpdataXML::GetInstance();
    _TOBEUPDATE_DRIVER_INFO driver;
    driver.strDriverID = "15";
    notice->SetDriverList({driver});
    notice->GetDriverItem();
    DuiLib::UIMainQueue::getInstance()->dispatch([notice] {
        // The service's destructor shuts the download manager down before it drains this queue.
        plat::CClock::Get().Wait({&CDriverDownloadManager::GetInstance()->ShutdownEvent()}, plat::CClock::kInfinite);
        std::_Exit(notice->IsShown() ? 0 : 3);
    });
    std::exit(1);  // the task above ends the process while the statics are destroyed
}

TEST_F(UnloadTest, UiTasksRunAtUnloadFindTheNoticeControllersAlive) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ExitWhileAUiTaskWaitsForTheServicesEnd(), testing::ExitedWithCode(0), "");
}

}  // namespace
