#include "DuiLib/UICulture.h"
#include "TestMachine.h"
#include "kva/platform/Machine.h"

namespace {

class UICultureTest : public kvatest::CTestMachine {};

TEST_F(UICultureTest, TextsFollowTheUsersLanguageAndFillNumbers) {
    auto* c = DuiLib::UICulture::GetInstance();
    plat::SetOverride("language", "en-US");
    EXPECT_EQ(c->GetMultiVarStr(L"IDS_DOCTOR_DEVICE_NORMAL_DESC2", {0}, 0), L"No driver updates installed yet");
    EXPECT_EQ(c->GetMultiVarStr(L"IDS_DOCTOR_DEVICE_NORMAL_DESC2", {1}, 0), L"1 driver update installed");
    EXPECT_EQ(c->GetMultiVarStr(L"IDS_DOCTOR_DEVICE_NORMAL_DESC2", {12}, 0), L"12 driver updates installed");
    EXPECT_EQ(c->getDirection(), 0);

    plat::SetOverride("language", "zh-TW");  // no file of its own: falls back by language
    EXPECT_EQ(c->GetMultiVarStr(L"IDS_DOCTOR_DEVICE_NORMAL_DESC2", {3}, 0), L"已安装 3 个驱动更新");
    plat::SetOverride("language", "fr-FR");  // unknown language: English
    EXPECT_EQ(c->GetString(L"IDS_DRVUP_M04_S01"), L"Drivers");
    EXPECT_EQ(c->GetString(L"IDS_NO_SUCH_TEXT"), L"IDS_NO_SUCH_TEXT");
}

}  // namespace
