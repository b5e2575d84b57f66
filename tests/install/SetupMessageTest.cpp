// The setup request's JSON form: its keys in the order the installer reads them, read back leniently.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "install/SetupMessage.h"

namespace {

TEST(SetupMessageTest, KeysFollowTheMessageOrderAndEveryMemberComesBack) {
    _SETUP_DRIVER_MSG m;
    m.id = "14";
    m.strCurVersion = "1.0";
    m.strNextVersion = "2.0";
    m.isInvolovedA = 1;
    m.updatetype = 5;
    m.file = "C:\\d\\setup.exe";
    m.timeout = 1200000;
    m.fileSize = 5000000000;
    m.process_list = {{"a.exe", "first"}};
    m.logdir_list = {"C:\\logs"};
    const std::string text = m.ToJson();
    std::vector<std::string> keys;
    const auto parsed = nlohmann::ordered_json::parse(text);
    for (const auto& [k, v] : parsed.items()) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "strCurVersion", "strNextVersion", "isInvolovedA",
                                              "updatetype", "file", "timeout", "fileSize", "process_list",
                                              "logdir_list"}));
    const _SETUP_DRIVER_MSG back = _SETUP_DRIVER_MSG::FromJson(text);
    EXPECT_EQ(back.ToJson(), text);
    EXPECT_EQ(back.fileSize, 5000000000);
    EXPECT_EQ(back.process_list, m.process_list);
}

TEST(SetupMessageTest, KeysOfAnotherTypeKeepTheirDefaults) {
    const auto m = _SETUP_DRIVER_MSG::FromJson(
        R"({"id": 14, "strCurVersion": "1.0", "updatetype": "5", "timeout": 30, "logdir_list": "C:\\logs"})");
    EXPECT_EQ(m.id, "");
    EXPECT_EQ(m.strCurVersion, "1.0");
    EXPECT_EQ(m.updatetype, 1);
    EXPECT_EQ(m.timeout, 30);
    EXPECT_TRUE(m.logdir_list.empty());
}

}  // namespace
