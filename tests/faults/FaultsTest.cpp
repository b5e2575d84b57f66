// Faults across real processes: `kva` verbs, the host and the machine database are run or held
// by separate processes, broken from outside, and must come through with a clear word.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "TestMachine.h"

namespace {

namespace fs = std::filesystem;

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class FaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() / ("kva-faults-" + std::string(info->name()) + "-" +
                                             std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        for (const auto& pid : m_started) kvatest::RunCommand("kill -9 " + pid + " 2>/dev/null");
        fs::remove_all(m_dir);
    }

    const fs::path& Dir() const { return m_dir; }
    fs::path Machine() const { return m_dir / "machine"; }
    std::string Kva(const fs::path& state) const {
        return Quote(kvatest::BinaryPath("kva")) + " --state " + Quote(state);
    }
    int Run(const std::string& command, std::string* out = nullptr) { return kvatest::RunCommand(command, out); }

    // Starts a command in the background; its process id is killed at the end of the test.
    std::string Start(const std::string& command) {
        const fs::path pidFile = m_dir / ("pid-" + std::to_string(m_started.size()));
        Run(command + " >/dev/null 2>&1 & echo $! > " + Quote(pidFile));
        std::string pid;
        std::ifstream(pidFile) >> pid;
        m_started.push_back(pid);
        return pid;
    }

    // Every log line the machine's processes wrote so far.
    std::string Logs() const {
        std::string all;
        std::error_code ec;
        for (const auto& f : fs::directory_iterator(Machine() / "logs", ec)) all += ReadAll(f.path());
        return all;
    }

private:
    fs::path m_dir;
    std::vector<std::string> m_started;
};

// A state folder that cannot hold a machine: every verb says so in one line and fails.
TEST_F(FaultsTest, AStateFolderThatCannotHoldAMachineIsOneLineAndAFailure) {
    std::ofstream(Dir() / "plain-file") << "x";
    const fs::path underAFile = Dir() / "plain-file" / "machine";
    const fs::path dbIsAFolder = Dir() / "db-is-a-folder";
    fs::create_directories(dbIsAFolder / "machine.db");
    const fs::path garbage = Dir() / "garbage";
    fs::create_directories(garbage);
    std::ofstream(garbage / "machine.db") << std::string(8192, '\x5a');

    for (const fs::path& state : {underAFile, dbIsAFolder, garbage}) {
        for (const char* verb : {"machine show", "machine set battery 20", "host --cycles 1", "events"}) {
            SCOPED_TRACE(state.string() + " " + verb);
            std::string out;
            EXPECT_NE(Run(Kva(state) + " " + verb, &out), 0);
            EXPECT_NE(out.find("cannot open the machine in"), std::string::npos) << out;
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
    }
}

// Another process holds the machine database in a write transaction for a while: calls wait for
// it and then succeed, nothing is lost on either side.
TEST_F(FaultsTest, TheMachineDatabaseBusyInAnotherProcessIsWaitedFor) {
    ASSERT_EQ(Run(Kva(Machine()) + " machine show >/dev/null"), 0);
    const fs::path held = Dir() / "held";
    Start("sqlite3 " + Quote(Machine() / "machine.db") +
          " 'BEGIN EXCLUSIVE;' \"INSERT OR REPLACE INTO facts(name, value) VALUES('serial', 'HELD-1')\" '.shell touch " +
          held.string() + "' '.shell sleep 1' 'COMMIT;'");
    ASSERT_TRUE(kvatest::Eventually([&] { return fs::exists(held); })) << "sqlite3 did not take the lock";
    std::string out;
    ASSERT_EQ(Run(Kva(Machine()) + " machine set battery 20", &out), 0) << out;
    ASSERT_EQ(Run(Kva(Machine()) + " machine show", &out), 0) << out;
    EXPECT_NE(out.find("battery:     20"), std::string::npos) << out;
    ASSERT_EQ(Run("sqlite3 " + Quote(Machine() / "machine.db") + " \"SELECT value FROM facts WHERE name='serial'\"", &out),
              0);
    EXPECT_EQ(out, "HELD-1\n");
}

// The service goes bad while the host runs a round every second of real time: each bad catalogue
// is refused with its reason, the last good one stays in use, and a good one is taken again.
TEST_F(FaultsTest, ABadCatalogueWhileTheServiceRunsIsRefusedAndTheLastGoodOneKept) {
    const fs::path service = Dir() / "service";
    ASSERT_EQ(Run(Kva(Machine()) + " catalogue make " + Quote(service) + " --catalogue-version 2 --configure file://" +
                  service.string() + " >/dev/null"),
              0);
    const fs::path cfg = Machine() / "drive_c/Program Files/Vantor/Pilotdeck/config/commoncfg.xml";
    std::string xml = ReadAll(cfg);
    xml.insert(xml.find("</commoncfg>"), "<Update initTime=\"0\" queryPeriod=\"60\"/>\n");
    std::ofstream(cfg) << xml;
    // The model's catalogue and the default one: both go bad together.
    struct CCatalogue {
        fs::path file;
        std::string body, sig;
    };
    std::vector<CCatalogue> catalogues;
    for (const auto& f : fs::directory_iterator(service / "catalogue")) {
        if (f.path().extension() == ".json")
            catalogues.push_back({f.path(), ReadAll(f.path()), ReadAll(f.path().string() + ".sig")});
    }
    ASSERT_FALSE(catalogues.empty());

    Start(Kva(Machine()) + " --time-scale 3600 host");
    auto accepted = [&] {
        return Run("sqlite3 " + Quote(Machine() / "machine.db") +
                   " \"SELECT 1 FROM reg_values WHERE lname='catalogueversion' AND text='2'\" | grep -q 1") == 0;
    };
    ASSERT_TRUE(kvatest::Eventually(accepted, std::chrono::seconds(20))) << Logs();

    struct CBad {
        const char* reason;
        std::function<void()> make;
    };
    const CBad bad[] = {
        {"catalogue signature does not verify",
         [&] {
             for (const auto& c : catalogues) std::ofstream(c.file, std::ios::app) << " ";
         }},
        {"catalogue is unsigned",
         [&] {
             for (const auto& c : catalogues) fs::remove(c.file.string() + ".sig");
         }},
        {"expired at",
         [&] {
             Run(Kva(Machine()) + " catalogue make " + Quote(service) + " --catalogue-version 3 --days -1 >/dev/null");
         }},
        {"is older than the accepted version 2",
         [&] { Run(Kva(Machine()) + " catalogue make " + Quote(service) + " --catalogue-version 1 >/dev/null"); }},
    };
    for (const CBad& b : bad) {
        SCOPED_TRACE(b.reason);
        for (const auto& c : catalogues) {
            std::ofstream(c.file) << c.body;
            std::ofstream(c.file.string() + ".sig") << c.sig;
        }
        b.make();
        EXPECT_TRUE(kvatest::Eventually([&] { return Logs().find(b.reason) != std::string::npos; },
                                        std::chrono::seconds(20)));
        EXPECT_TRUE(accepted()) << "the accepted version stays";
    }
    EXPECT_NE(Logs().find("keeping the last accepted one"), std::string::npos);
    EXPECT_EQ(Logs().find("stored catalogue not usable"), std::string::npos);
}

}  // namespace
