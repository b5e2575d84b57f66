// The JSON form of a package description: every member under its own key, read back leniently.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "KVADownload/PackageJson.h"

namespace {

using nlohmann::json;

std::set<std::string> Keys(const json& obj) {
    std::set<std::string> keys;
    for (const auto& [k, v] : obj.items()) keys.insert(k);
    return keys;
}

_TOBEUPDATE_DRIVER_INFO EveryMemberSet() {
    _TOBEUPDATE_DRIVER_INFO p;
    p.strDriverID = "15";
    p.strDriverName = "Wireless LAN Driver";
    p.strCurVersion = "1.0";
    p.auxValue = -4;
    p.strAux1 = "aux1";
    p.versionInfo = {"0.9", "2.0", "15-2.0", "packages/wlan.zip", "aux4", "1", 123456789012ull};
    p.policy.updateType = 5;
    p.policy.restartLevel1 = p.policy.restartLevel2 = p.policy.flagAux1 = true;
    p.policy.flagAux2 = p.policy.forceFlag = p.policy.idleAllowed = true;
    p.policy.strAux5 = "aux5";
    p.policy.auxList2 = {"l2"};
    p.policy.processList = {"C:\\logs"};
    p.policy.auxList3 = {"l3a", "l3b"};
    p.policy.textByKey["camera"] = {{"cam.exe", "Camera"}, {"hub.exe", "Hub"}};
    p.auxList = {"x"};
    p.strAux2 = "aux2";
    p.hashInfo = {"aux6", 77, "SHA256", "abcd"};
    p.isInvolovedA = true;
    return p;
}

TEST(PackageJsonTest, EveryMemberTravelsUnderItsOwnKeyAndComesBack) {
    const _TOBEUPDATE_DRIVER_INFO p = EveryMemberSet();
    const json j = PackageToJson(p);
    using Names = std::set<std::string>;
    EXPECT_EQ(Keys(j), (Names{"strDriverID", "strDriverName", "strCurVersion", "auxValue", "strAux1",
                              "versionInfo", "policy", "auxList", "strAux2", "hashInfo", "isInvolovedA"}));
    EXPECT_EQ(Keys(j["versionInfo"]), (Names{"strAux3", "strNextVersion", "strNextVersionID", "strUrl",
                                             "strAux4", "strVersionType", "FileSize"}));
    EXPECT_EQ(Keys(j["policy"]), (Names{"updateType", "restartLevel1", "restartLevel2", "flagAux1",
                                        "flagAux2", "forceFlag", "idleAllowed", "strAux5", "auxList2",
                                        "processList", "auxList3", "textByKey"}));
    EXPECT_EQ(Keys(j["hashInfo"]), (Names{"strAux6", "auxSize", "strHashAlgo", "strHash"}));
    EXPECT_EQ(j["policy"]["textByKey"]["camera"], json::parse(R"([["cam.exe","Camera"],["hub.exe","Hub"]])"));

    _TOBEUPDATE_DRIVER_INFO q;
    ASSERT_TRUE(PackageFromJson(j, q));
    // Read back, the form is the same: no member was dropped or changed on the way.
    EXPECT_EQ(PackageToJson(q), j);
    EXPECT_EQ(q.versionInfo.FileSize, 123456789012ull);
    EXPECT_EQ(q.policy.textByKey, p.policy.textByKey);
    EXPECT_TRUE(q.policy.idleAllowed);
}

TEST(PackageJsonTest, WrongTypesAndAbsentKeysKeepTheDefaults) {
    _TOBEUPDATE_DRIVER_INFO q;
    EXPECT_FALSE(PackageFromJson(json::array(), q));
    const json j = json::parse(R"({"strDriverID": 15, "strDriverName": "Camera",
        "versionInfo": {"FileSize": "big", "strNextVersion": "3.1"},
        "policy": {"restartLevel1": 1, "updateType": 2, "processList": ["a", 3, "b"],
                   "textByKey": {"cam": [["only one"], ["x.exe", "X"]], "bad": "text"}},
        "hashInfo": ["SHA256"], "isInvolovedA": "yes"})");
    ASSERT_TRUE(PackageFromJson(j, q));
    EXPECT_EQ(q.strDriverID, "");
    EXPECT_EQ(q.strDriverName, "Camera");
    EXPECT_EQ(q.versionInfo.FileSize, 0u);
    EXPECT_EQ(q.versionInfo.strNextVersion, "3.1");
    EXPECT_FALSE(q.policy.restartLevel1);
    EXPECT_EQ(q.policy.updateType, 2);
    EXPECT_EQ(q.policy.processList, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(q.policy.textByKey.size(), 1u);
    EXPECT_EQ(q.policy.textByKey["cam"], (std::vector<std::pair<std::string, std::string>>{{"x.exe", "X"}}));
    EXPECT_EQ(q.hashInfo.strHashAlgo, "");
    EXPECT_FALSE(q.isInvolovedA);
}

}  // namespace
