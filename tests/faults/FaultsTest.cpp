// Faults across real processes: `kva` verbs, the host and the machine database are run or held
// by separate processes, broken from outside, and must come through with a clear word.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestMachine.h"
#include "TextFile.h"

namespace {

namespace fs = std::filesystem;

using kvatest::Quote;
using kvatest::ReadAll;

class FaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Short: the hub's socket path inside it must fit a socket address.
        m_dir = fs::temp_directory_path() /
                ("kva-f" + std::to_string(std::hash<std::string>{}(info->name()) % 100000) + "-" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        for (const auto& pid : m_started) kvatest::RunCommand("kill -9 " + pid + " 2>/dev/null");
        // The shells of StartWithStatus may still write the status of what was just killed.
        kvatest::Eventually([&] {
            std::error_code ec;
            fs::remove_all(m_dir, ec);
            return !ec;
        });
    }

    const fs::path& Dir() const { return m_dir; }
    fs::path Machine() const { return m_dir / "machine"; }
    static std::string Kva(const fs::path& state) { return kvatest::KvaCommand(state); }
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

    // Starts a command in the background as Start does; its output goes to `<name>.out` and its
    // exit status to `<name>.status` in the test's folder when it ends.
    std::string StartWithStatus(const std::string& command, const std::string& name) {
        const fs::path pidFile = m_dir / (name + ".pid"), status = m_dir / (name + ".status");
        Run("(" + command + " >" + Quote(m_dir / (name + ".out")) + " 2>&1 & echo $! > " + Quote(pidFile) +
            "; wait $!; echo $? > " +
            Quote(status.string() + ".tmp") + "; mv " + Quote(status.string() + ".tmp") + " " + Quote(status) +
            ") >/dev/null 2>&1 &");
        std::string pid;
        kvatest::Eventually([&] { return static_cast<bool>(std::ifstream(pidFile) >> pid); });
        m_started.push_back(pid);
        return pid;
    }

    // Every log line the machine's processes wrote so far.
    std::string Logs() const { return kvatest::ReadFolder(Machine() / "logs"); }

    // `kva serve` of a sample catalogue that sends half of every package and then stalls; the
    // machine is configured to check it at once and then every `periodMinutes`.
    bool ServeStalling(const std::string& periodMinutes) {
        const fs::path service = m_dir / "service", out = m_dir / "serve.out";
        if (Run(Kva(Machine()) + " catalogue make " + Quote(service) + " >/dev/null") != 0) return false;
        Run(Kva(Machine()) + " serve " + Quote(service) + " --port 0 --fault stall > " + Quote(out) + " 2>&1 & echo $! > " +
            Quote(m_dir / "serve.pid"));
        std::ifstream(m_dir / "serve.pid") >> m_servePid;
        m_started.push_back(m_servePid);
        std::string url;
        kvatest::Eventually([&] {
            const std::string text = ReadAll(out);
            const auto at = text.find("http://");
            if (at != std::string::npos) url = text.substr(at, text.find_first_of(" \n", at) - at);
            return !url.empty();
        });
        if (url.empty()) return false;
        m_port = url.substr(url.rfind(':') + 1);
        if (Run(Kva(Machine()) + " catalogue make " + Quote(service) + " --configure " + url + " --inventory >/dev/null") != 0)
            return false;
        CheckAtOnceAndEvery(periodMinutes);
        return true;
    }
    // The machine's configuration: the first check at once, then one every `periodMinutes`.
    void CheckAtOnceAndEvery(const std::string& periodMinutes) const {
        const fs::path cfg = Machine() / "drive_c/Program Files/Vantor/Pilotdeck/config/commoncfg.xml";
        std::string xml = ReadAll(cfg);
        xml.insert(xml.find("</commoncfg>"), "<Update initTime=\"0\" queryPeriod=\"" + periodMinutes + "\"/>\n");
        std::ofstream(cfg) << xml;
    }

    // The same service, healthy, on the same port; true once it answers.
    bool ServeAgain() {
        Start(Kva(Machine()) + " serve " + Quote(m_dir / "service") + " --port " + m_port);
        return kvatest::Eventually([&] {
            return Run("curl -sf -o /dev/null http://127.0.0.1:" + m_port + "/catalogue/default.json") == 0;
        });
    }

    // The partial downloads on disk and their sizes.
    std::vector<std::pair<fs::path, std::uintmax_t>> Partials() const {
        const fs::path downloads = Machine() / "drive_c/ProgramData/Vantor/Pilotdeck/DriverUpgrade/Update/Downloaded";
        std::vector<std::pair<fs::path, std::uintmax_t>> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(downloads, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->path().extension() == ".part") found.emplace_back(it->path(), fs::file_size(it->path(), ec));
        }
        return found;
    }
    // Waits until a package is partly downloaded: the moment the faults below strike.
    bool WaitForPartialData(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const {
        return kvatest::Eventually(
            [&] {
                const auto p = Partials();
                return !p.empty() && p.front().second > 0;
            },
            timeout);
    }
    // The package id of a file in a download folder ("<id>_<version>").
    static std::string IdOf(const fs::path& file) {
        const std::string folder = file.parent_path().filename().string();
        return folder.substr(0, folder.find('_'));
    }
    std::size_t Count(const std::string& line) const {
        const std::string logs = Logs();
        std::size_t n = 0;
        for (std::size_t at = 0; (at = logs.find(line, at)) != std::string::npos; ++at) ++n;
        return n;
    }

    std::string m_servePid, m_port;

private:
    fs::path m_dir;
    std::vector<std::string> m_started;
};

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
    CheckAtOnceAndEvery("60");
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
    auto remake = [&](const std::string& args) {
        Run(Kva(Machine()) + " catalogue make " + Quote(service) + args + " >/dev/null");
    };
    const CBad bad[] = {
        {"catalogue signature does not verify",
         [&] { for (const auto& c : catalogues) std::ofstream(c.file, std::ios::app) << " "; }},
        {"catalogue is unsigned", [&] { for (const auto& c : catalogues) fs::remove(c.file.string() + ".sig"); }},
        {"expired at", [&] { remake(" --catalogue-version 3 --days -1"); }},
        {"is older than the accepted version 2", [&] { remake(" --catalogue-version 1"); }},
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

// The host is killed (SIGKILL) while a package is half downloaded from a stalling service; started
// again against a healthy one, it resumes from the partial file, finishes the package once and
// leaves no partial file behind.
TEST_F(FaultsTest, AHostKilledMidDownloadResumesFromThePartialFileAndFinishesOnce) {
    ASSERT_TRUE(ServeStalling("60"));
    // The scaled clock shortens the download's back-off before it gives up (here and below); the
    // next round is a minute of real time away.
    const std::string host = Start(Kva(Machine()) + " --time-scale 60 host");
    ASSERT_TRUE(WaitForPartialData()) << Logs();
    Run("kill -9 " + host + " " + m_servePid);
    const auto cut = Partials();
    ASSERT_FALSE(cut.empty());

    ASSERT_TRUE(ServeAgain());
    Start(Kva(Machine()) + " host");
    const std::string id = IdOf(cut.front().first);
    ASSERT_TRUE(kvatest::Eventually([&] { return Count("download of driver id " + id + " finished") > 0; },
                                    std::chrono::seconds(30)))
        << Logs();
    EXPECT_NE(Logs().find("resuming download of driver id " + id + " at byte"), std::string::npos) << Logs();
    EXPECT_EQ(Count("download of driver id " + id + " finished"), 1u);
    EXPECT_TRUE(kvatest::Eventually([&] { return Partials().empty(); }));
}

// The service dies while a package is half downloaded: the download ends with one error and the
// forced package stays failed for the rest of this run (no flow queues it again); the next start
// of the service, with the service back, takes it up again and resumes it from the partial file.
TEST_F(FaultsTest, AServiceKilledMidDownloadFailsItAndTheNextStartResumesIt) {
    ASSERT_TRUE(ServeStalling("60"));
    const std::string host = Start(Kva(Machine()) + " --time-scale 60 host");
    ASSERT_TRUE(WaitForPartialData()) << Logs();
    const std::string id = IdOf(Partials().front().first);
    Run("kill -9 " + m_servePid);
    ASSERT_TRUE(kvatest::Eventually([&] { return Count("download of driver id " + id + " failed") == 1; },
                                    std::chrono::seconds(30)))
        << Logs();
    const fs::path tables = Machine() / "drive_c/ProgramData/Vantor/Pilotdeck/DriverUpgrade/PackageTables.json";
    auto state = [&] {
        const auto doc = nlohmann::json::parse(ReadAll(tables), nullptr, false);
        const auto* entry = doc.is_object() ? &doc["forced"][id] : nullptr;
        return entry && entry->is_object() ? entry->value("state", -1) : -1;
    };
    EXPECT_TRUE(kvatest::Eventually([&] { return state() == 4; })) << ReadAll(tables);
    ASSERT_FALSE(Partials().empty()) << "the partial file is kept for the retry";

    ASSERT_TRUE(ServeAgain());
    Run("kill " + host);
    Start(Kva(Machine()) + " host");
    ASSERT_TRUE(kvatest::Eventually([&] { return Count("download of driver id " + id + " finished") == 1; },
                                    std::chrono::seconds(30)))
        << Logs();
    EXPECT_NE(Logs().find("resuming download of driver id " + id + " at byte"), std::string::npos);
    EXPECT_EQ(Count("download of driver id " + id + " failed"), 1u);
}

// The disk fills up under a running download: it ends with one clear error, the partial file is
// kept for the retry and the host keeps running (and later stops cleanly); with space back, the
// next start resumes the package from that file and finishes it.
TEST_F(FaultsTest, ADiskThatFillsDuringADownloadFailsItClearlyAndTheRetryResumes) {
    ASSERT_TRUE(ServeStalling("60"));
    // On this scale the download's back-off before it gives up (15 s, so 7.5 s real) outlasts the
    // service's restart even on a loaded machine.
    const std::string host = StartWithStatus(Kva(Machine()) + " --time-scale 2 host", "host1");
    ASSERT_TRUE(WaitForPartialData(std::chrono::seconds(30))) << Logs();
    const auto cut = Partials();
    const std::string id = IdOf(cut.front().first);  // the one with data
    ASSERT_EQ(Run(Kva(Machine()) + " machine set disk-free 0"), 0);
    // The stalled transfer is cut; the download's retry reaches a healthy service and a full disk.
    Run("kill -9 " + m_servePid);
    ASSERT_TRUE(ServeAgain());
    ASSERT_TRUE(kvatest::Eventually([&] { return Count("download of driver id " + id + " failed") == 1; },
                                    std::chrono::seconds(30)))
        << Logs();
    EXPECT_NE(Logs().find("download of driver id " + id + " failed: cannot write the package: No space left"),
              std::string::npos)
        << Logs();
    const auto kept = Partials();
    for (const auto& [file, size] : cut) {
        // clang 14 cannot capture a structured binding.
        const auto at = std::find_if(kept.begin(), kept.end(), [&name = file](const auto& k) { return k.first == name; });
        ASSERT_NE(at, kept.end()) << file << " is kept for the retry";
        if (size > 0) {
            EXPECT_EQ(at->second, size) << file << ": nothing written past the full disk";
        }
    }

    Run("kill " + host);
    ASSERT_TRUE(kvatest::Eventually([&] { return fs::exists(Dir() / "host1.status"); })) << "the host did not stop";
    EXPECT_EQ(ReadAll(Dir() / "host1.status"), "0\n") << "the host stops cleanly after the failed download";
    ASSERT_EQ(Run(Kva(Machine()) + " machine set disk-free real"), 0);
    Start(Kva(Machine()) + " host");
    ASSERT_TRUE(kvatest::Eventually([&] { return Count("download of driver id " + id + " finished") == 1; },
                                    std::chrono::seconds(30)))
        << Logs();
    EXPECT_NE(Logs().find("resuming download of driver id " + id + " at byte " + std::to_string(cut.front().second)),
              std::string::npos)
        << Logs();
    EXPECT_TRUE(kvatest::Eventually([&] { return Partials().empty(); }));
}

// The suite's process, and with it the hub, is killed while the host runs a round and a question
// waits for its answer: the question ends by its time-out, and once the suite is started again
// every client is back on the new hub: the host answers, a listener gets what is posted to it.
TEST_F(FaultsTest, TheHubKilledAndRestartedDuringARoundLosesNoClient) {
    ASSERT_TRUE(ServeStalling("60"));
    const std::string suite = Start(Kva(Machine()) + " suite");
    StartWithStatus(Kva(Machine()) + " --time-scale 60 host", "host");
    StartWithStatus(Kva(Machine()) + " ipc listen --id 0x7A0000", "listener");
    const std::string askHost =
        Kva(Machine()) + " ipc send --to 0x50000 --from 0x7B0000 --msg 0x50016 --data '{}' --wait-reply 3000";
    ASSERT_TRUE(kvatest::Eventually([&] { return Run(askHost + " | grep -q '^reply 0x50000 -> 0x7B0000'") == 0; },
                                    std::chrono::seconds(30)))
        << Logs();
    ASSERT_TRUE(kvatest::Eventually([&] { return !Partials().empty(); })) << "the round's download runs";

    // A question nobody answers: in flight once the listener has it.
    StartWithStatus(Kva(Machine()) + " ipc send --to 0x7A0000 --from 0x7C0000 --msg 0x7A0001 --data asked --wait-reply 4000",
                    "asker");
    ASSERT_TRUE(kvatest::Eventually([&] { return ReadAll(Dir() / "listener.out").find("asked") != std::string::npos; }))
        << ReadAll(Dir() / "listener.out");
    Run("kill -9 " + suite);
    ASSERT_TRUE(kvatest::Eventually([&] { return fs::exists(Dir() / "asker.status"); }, std::chrono::seconds(20)))
        << "the question in flight never ended";
    EXPECT_EQ(ReadAll(Dir() / "asker.status"), "1\n");
    EXPECT_NE(ReadAll(Dir() / "asker.out").find("no reply within 4000 ms"), std::string::npos);

    Start(Kva(Machine()) + " suite");
    EXPECT_TRUE(kvatest::Eventually([&] { return Run(askHost + " | grep -q '^reply 0x50000 -> 0x7B0000'") == 0; },
                                    std::chrono::seconds(30)))
        << "the host is not back on the new hub";
    EXPECT_TRUE(kvatest::Eventually(
        [&] {
            Run(Kva(Machine()) + " ipc send --to 0x7A0000 --msg 0x7A0001 --data later >/dev/null 2>&1");
            return ReadAll(Dir() / "listener.out").find("later") != std::string::npos;
        },
        std::chrono::seconds(30)))
        << ReadAll(Dir() / "listener.out");
    EXPECT_FALSE(fs::exists(Dir() / "host.status")) << "the host still runs: " << ReadAll(Dir() / "host.out");
}

// An https:// update service whose certificate is self-signed: the host refuses it and says why
// in its log, and nothing of what it serves is taken.
TEST_F(FaultsTest, AnHttpsServiceWithASelfSignedCertificateIsRefused) {
    const fs::path service = Dir() / "service";
    ASSERT_EQ(Run(Kva(Machine()) + " catalogue make " + Quote(service) + " >/dev/null"), 0);
    ASSERT_EQ(Run("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -days 1 -keyout " +
                  Quote(Dir() / "key.pem") + " -out " + Quote(Dir() / "cert.pem") + " >/dev/null 2>&1"),
              0);
    // A free port: the first one the TLS server can take and then answers on.
    std::string port;
    for (int p = 30000 + static_cast<int>(std::hash<std::string>{}(Dir().string()) % 20000), tries = 0;
         port.empty() && tries < 20; ++p, ++tries) {
        Start("cd " + Quote(service) + " && openssl s_server -quiet -WWW -accept " + std::to_string(p) + " -cert " +
              Quote(Dir() / "cert.pem") + " -key " + Quote(Dir() / "key.pem"));
        if (kvatest::Eventually(
                [&] {
                    return Run("curl -skf -o /dev/null https://127.0.0.1:" + std::to_string(p) +
                               "/catalogue/default.json") == 0;
                },
                std::chrono::seconds(2)))
            port = std::to_string(p);
    }
    ASSERT_FALSE(port.empty()) << "no port for the TLS server";
    const std::string url = "https://127.0.0.1:" + port;
    ASSERT_EQ(Run(Kva(Machine()) + " catalogue make " + Quote(service) + " --configure " + url + " >/dev/null"), 0);
    CheckAtOnceAndEvery("60");

    // The network probe does not look at certificates; the catalogue fetch does.
    Start(Kva(Machine()) + " host");
    ASSERT_TRUE(kvatest::Eventually([&] { return Logs().find("cannot fetch the catalogue from " + url) != std::string::npos; },
                                    std::chrono::seconds(20)))
        << Logs();
    const std::string logs = Logs();
    const std::string line = logs.substr(logs.find("cannot fetch the catalogue from " + url));
    EXPECT_NE(line.substr(0, line.find('\n')).find("certificate"), std::string::npos) << line;
    EXPECT_EQ(logs.find("newer packages offered: "), std::string::npos) << "nothing taken from it";
}

}  // namespace
