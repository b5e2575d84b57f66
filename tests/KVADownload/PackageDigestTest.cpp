// The package digest stands in for the JSON form when the description memo asks "unchanged?":
// whatever changes the JSON form must change the digest.
#include <gtest/gtest.h>

#include <string>

#include "KVADownload/PackageJson.h"

namespace {

using nlohmann::json;

// Every value of the JSON form, one at a time, is changed in the JSON, read back into a record,
// and the record's digest compared: a member the digest left out would keep it.
TEST(PackageDigestTest, EveryValueOfTheJsonFormMovesTheDigest) {
    _TOBEUPDATE_DRIVER_INFO base;
    ASSERT_TRUE(PackageFromJson(json::parse(R"({
        "strDriverID": "15", "strDriverName": "Wireless", "strCurVersion": "1.0", "auxValue": 3,
        "strAux1": "a1", "auxList": ["l1", "l2"], "strAux2": "a2", "isInvolovedA": false,
        "versionInfo": {"strAux3": "0.9", "strNextVersion": "2.0", "strNextVersionID": "15-2.0",
                        "strUrl": "packages/p.zip", "strAux4": "a4", "strVersionType": "1", "FileSize": 7},
        "policy": {"updateType": 2, "restartLevel1": true, "restartLevel2": false, "flagAux1": false,
                   "flagAux2": true, "forceFlag": false, "idleAllowed": true, "strAux5": "a5",
                   "auxList2": ["m"], "processList": ["p.exe"], "auxList3": ["n"],
                   "textByKey": {"laptop": [["name.exe", "description"]]}},
        "hashInfo": {"strAux6": "a6", "auxSize": 9, "strHashAlgo": "SHA256", "strHash": "ab"}})"),
                                base));
    const json flat = PackageToJson(base).flatten();
    const std::size_t digest = PackageDigest(base);
    EXPECT_EQ(PackageDigest(_TOBEUPDATE_DRIVER_INFO(base)), digest);
    int changed = 0;
    for (const auto& [pointer, value] : flat.items()) {
        json edited = flat;
        if (value.is_string()) edited[pointer] = value.get<std::string>() + "x";
        else if (value.is_boolean()) edited[pointer] = !value.get<bool>();
        else if (value.is_number()) edited[pointer] = value.get<std::int64_t>() + 1;
        else continue;
        _TOBEUPDATE_DRIVER_INFO other;
        ASSERT_TRUE(PackageFromJson(edited.unflatten(), other));
        ASSERT_NE(PackageToJson(other), PackageToJson(base)) << pointer << " was not read back";
        EXPECT_NE(PackageDigest(other), digest) << pointer;
        ++changed;
    }
    EXPECT_EQ(changed, static_cast<int>(flat.size()));
}

}  // namespace
