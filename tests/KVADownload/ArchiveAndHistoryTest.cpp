// Package archives and the update history database.
#include <fstream>

#include "KVADownload/DriverMgmtDBHelper.h"
#include "KVADownload/ZipArchive.h"
#include "TestMachine.h"
#include "TextFile.h"

namespace {

namespace fs = std::filesystem;

class ArchiveTest : public kvatest::CTestMachine {
protected:
    fs::path Write(const std::string& name, const std::string& bytes) {
        const fs::path p = State() / name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    static std::string Read(const fs::path& p) { return kvatest::ReadAll(p); }
};

TEST_F(ArchiveTest, WrittenArchiveUnpacksToTheSameFiles) {
    CZipWriter zip;
    const std::string big(300000, 'z');
    zip.Add("setup.exe", "installer");
    zip.Add("data/big.bin", big);
    zip.Add("empty.txt", "");
    const fs::path file = Write("a.zip", zip.Finish());
    EXPECT_TRUE(IsZipArchive(file));
    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(ExtractZipArchive(file, State() / "out", &names, &error)) << error;
    EXPECT_EQ(names, (std::vector<std::string>{"setup.exe", "data/big.bin", "empty.txt"}));
    EXPECT_EQ(Read(State() / "out" / "setup.exe"), "installer");
    EXPECT_EQ(Read(State() / "out" / "data" / "big.bin"), big);
    EXPECT_EQ(Read(State() / "out" / "empty.txt"), "");
    EXPECT_FALSE(IsZipArchive(Write("plain.bin", "MZ not a zip")));
}

TEST_F(ArchiveTest, HostileOrDamagedArchivesAreRefused) {
    std::string error;
    for (const std::string name : {"../evil.exe", "/etc/evil", "a/../../evil", "C:/evil", "a\\..\\evil"}) {
        SCOPED_TRACE(name);
        CZipWriter zip;
        zip.Add(name, "x");
        ASSERT_FALSE(ExtractZipArchive(Write("bad.zip", zip.Finish()), State() / "out", nullptr, &error));
        EXPECT_NE(error.find("outside"), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(State() / "evil.exe"));

    CZipWriter zip;
    zip.Add("setup.exe", std::string(5000, 'q'));
    std::string bytes = zip.Finish();
    std::string flipped = bytes;
    flipped[40] ^= 0x10;  // inside the deflated data
    EXPECT_FALSE(ExtractZipArchive(Write("flip.zip", flipped), State() / "o2", nullptr, &error));
    EXPECT_FALSE(ExtractZipArchive(Write("cut.zip", bytes.substr(0, bytes.size() / 2)), State() / "o3", nullptr, &error));
    EXPECT_FALSE(ExtractZipArchive(Write("junk.zip", "PK\x03\x04junk"), State() / "o4", nullptr, &error));
}

class HistoryTest : public kvatest::CTestMachine {};

TEST_F(HistoryTest, FinishedUpdatesAreKeptNewestFirst) {
    auto* db = DriverMgmtDBHelper::GetInstance();
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->GetFinishedUpdateItems().empty());
    finished_update_package a{"15", "1767225600", "", 123456789012, "1.0", "2.0", 1767225600};
    finished_update_package b{"0", "1767312000", "", 42, "", "5.1 'quoted'", 1767312000};
    ASSERT_TRUE(db->InsertFinishedUpdateItems(a));
    ASSERT_TRUE(db->InsertFinishedUpdateItems(b));
    const auto rows = db->GetFinishedUpdateItems();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].strDriverID, "0");
    EXPECT_EQ(rows[0].strNextVersion, "5.1 'quoted'");
    EXPECT_EQ(rows[1].FileSize, 123456789012);
    EXPECT_EQ(rows[1].strCurVersion, "1.0");
    EXPECT_EQ(rows[1].dayStart, 1767225600);
    EXPECT_EQ(db->GetFinishedUpdateItems(1).size(), 1u);
}

}  // namespace
