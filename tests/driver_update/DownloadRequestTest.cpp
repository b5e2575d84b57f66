#include "KVADownload/UpdateService.h"
#include "TestMachine.h"
#include "driver_update/DownloadRequest.h"

namespace {

class DownloadRequestTest : public kvatest::CTestMachine {
protected:
    static _TOBEUPDATE_DRIVER_INFO Record(const std::string& id) {
        _TOBEUPDATE_DRIVER_INFO r;
        r.strDriverID = id;
        r.strDriverName = "Audio";
        r.strCurVersion = "1.0";
        r.versionInfo.strNextVersion = "1.1";
        r.versionInfo.strNextVersionID = "v-11";
        r.versionInfo.strUrl = "file:///srv/audio.zip";
        r.versionInfo.FileSize = 4096;
        r.hashInfo.strHashAlgo = "SHA256";
        r.hashInfo.strHash = "ab";
        r.policy.restartLevel2 = true;
        return r;
    }
};

TEST_F(DownloadRequestTest, RequestCarriesTheRecordTheTargetAndTheRightSerialText) {
    auto r = Record("14");
    download_param p = driver_update::MakeDownloadParam(r, 5, r.strDriverID);
    EXPECT_EQ(p.strFilepath, "C:\\ProgramData\\Vantor\\Pilotdeck\\DriverUpgrade\\Update\\Downloaded\\14_1.1\\update.zip");
    EXPECT_EQ(p.Uid, -1);
    EXPECT_EQ(p.upateType, 5);
    EXPECT_EQ(p.strSN, "");
    EXPECT_EQ(p.strCurVersion, "") << "not part of a request";
    EXPECT_EQ(p.strVersionType, "");
    EXPECT_EQ(p.FileSize, 4096u);
    EXPECT_EQ(p.strHash, "ab");
    EXPECT_EQ(p.strNextVersionID, "v-11");

    r.versionInfo.strVersionType = "2";
    EXPECT_EQ(driver_update::MakeDownloadParam(r, 2, r.strDriverID).strSN, ProduceJsonStrForSn(0));
    r.isInvolovedA = true;
    EXPECT_EQ(driver_update::MakeDownloadParam(r, 2, r.strDriverID).strSN, "involvedA");

    const download_param app = driver_update::MakeDownloadParam(r, 5, "0");
    EXPECT_EQ(app.strDriverID, "0");
    EXPECT_NE(app.strFilepath.find("\\0_1.1\\update.zip"), std::string::npos);
}

TEST_F(DownloadRequestTest, EntryKeepsItsStateAndOnlyTheBiosForcesLevelThree) {
    enmUPGRADE_DRIVER_INFO e;
    e.state = 4;
    e.strInstallFile = "C:\\x\\setup.exe";
    driver_update::CopyRecordToEntry(Record("14"), e);
    EXPECT_EQ(e.state, 4);
    EXPECT_EQ(e.strInstallFile, "C:\\x\\setup.exe");
    EXPECT_EQ(e.GetRestartLevel(), RESTART_LEVEL_2);
    EXPECT_EQ(e.strNextVersion, "1.1");
    EXPECT_EQ(e.hashInfo.strHashAlgo, "SHA256");
    driver_update::CopyRecordToEntry(Record("23"), e);
    EXPECT_EQ(e.GetRestartLevel(), RESTART_LEVEL_3);
}

}  // namespace
