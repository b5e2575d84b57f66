#include <gtest/gtest.h>

#include "KVADownload/Version.h"
#include "driver_update/UpdateRecords.h"

namespace {

bool SameRequest(const download_param& a, const download_param& b) {
    return a.strCurVersion == b.strCurVersion && a.strUrl == b.strUrl && a.strFilepath == b.strFilepath &&
           a.strSN == b.strSN && a.strVersionType == b.strVersionType && a.strDriverID == b.strDriverID &&
           a.strDriverName == b.strDriverName && a.strNextVersionID == b.strNextVersionID &&
           a.strNextVersion == b.strNextVersion && a.strHashAlgo == b.strHashAlgo && a.strHash == b.strHash &&
           a.FileSize == b.FileSize && a.upateType == b.upateType && a.Uid == b.Uid && a.restart == b.restart &&
           a.shutdown == b.shutdown;
}

TEST(DownloadParamTest, JsonRoundTripKeepsEveryMemberUnderItsOwnKey) {
    download_param p;
    p.strCurVersion = "1.0";
    p.strUrl = "packages/15_2.0.zip";
    p.strFilepath = "C:\\ProgramData\\x\\update.zip";
    p.strSN = R"({"sn":"X1"})";
    p.strVersionType = "2";
    p.strDriverID = "15";
    p.strDriverName = "Wireless \"LAN\" Driver";
    p.strNextVersionID = "15-2.0";
    p.strNextVersion = "2.0";
    p.strHashAlgo = "SHA256";
    p.strHash = "ab";
    p.FileSize = 5000000000ull;
    p.upateType = 5;
    p.Uid = -1;
    p.restart = true;
    p.shutdown = true;
    const std::string text = p.ToJson();
    EXPECT_NE(text.find("\"upateType\":5"), std::string::npos) << text;
    EXPECT_TRUE(SameRequest(download_param(text), p));
}

TEST(DownloadParamTest, ReadingIsLenient) {
    const download_param def;
    for (const char* text : {"", "not json", "[1,2]", "{\"strDriverID\":", "42", "null"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(SameRequest(download_param(text), def));
    }
    const download_param only(R"({"strDriverID": "15"})");
    download_param expected;
    expected.strDriverID = "15";
    EXPECT_TRUE(SameRequest(only, expected));
    // A key of the wrong type keeps its default; the right ones still count; the key is "upateType".
    const download_param mixed(R"({"strDriverID": 15, "FileSize": "big", "upateType": 2, "updateType": 5,
                                   "restart": 1, "strHash": "aa", "extra": {}})");
    EXPECT_EQ(mixed.strDriverID, "");
    EXPECT_EQ(mixed.FileSize, 0u);
    EXPECT_EQ(mixed.upateType, 2);
    EXPECT_TRUE(mixed.restart);
    EXPECT_EQ(mixed.strHash, "aa");
}

TEST(CompareVersionTest, DottedNumericVersions) {
    struct Case {
        const char *local, *offered;
        int expected;
    };
    const Case cases[] = {
        {"1.2.3", "1.2.4", VERSION_OFFERED_NEWER}, {"1.10", "1.9", VERSION_LOCAL_NEWER},
        {"1.2", "1.2.0.0", VERSION_EQUAL},          {"1.2.0.1", "1.2", VERSION_LOCAL_NEWER},
        {"", "0.1", VERSION_OFFERED_NEWER},         {"01.002", "1.2", VERSION_EQUAL},
        {"22.100.0.1", "22.200.0.6", VERSION_OFFERED_NEWER},
        {"1.2a", "1.3", VERSION_INVALID},           {"1.2", "1..3", VERSION_INVALID},
        {"1.2", "", VERSION_INVALID},               {"1.2", "1.2.", VERSION_INVALID},
        {"1", "99999999999999999999999", VERSION_INVALID},
    };
    for (const auto& c : cases) EXPECT_EQ(CompareVersion(c.local, c.offered), c.expected) << c.local << " vs " << c.offered;
}

}  // namespace
