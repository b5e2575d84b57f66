// The update server behind `kva serve`: faults for tests, upgrade-status reports, and requests
// that must not hurt it.
#include <fstream>

#include "KVADownload/Folders.h"
#include "KVADownload/UpdateService.h"
#include "TextFile.h"
#include "UpdateServiceFixture.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Socket.h"

namespace {

namespace fs = std::filesystem;
using kvatest::Backend;

// Sends `request` raw and returns everything the server answers.
std::string RawExchange(std::uint16_t port, const std::string& request) {
    plat::CSocket conn = plat::CSocket::ConnectLoopback(port);
    if (!conn.Valid()) return "(no connection)";
    conn.SendAll(request.data(), request.size(), nullptr, std::chrono::seconds(10));
    conn.ShutdownSending();
    std::string answer;
    char buf[4096];
    while (conn.WaitReadable(nullptr, std::chrono::seconds(10)) == plat::SocketWait::Ready) {
        const long n = conn.Receive(buf, sizeof(buf));
        if (n <= 0) break;
        answer.append(buf, static_cast<std::size_t>(n));
    }
    return answer;
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

class ServerTest : public kvatest::CUpdateServiceTest {
protected:
    void MakeBigPackage() {
        CCatalogueMaker maker(Folder(), PrivateKey());
        std::string bytes(3 << 20, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 4096);
        maker.AddRawPackage("driver", "16", "Touchpad Driver", "1.0.5", 5, "16_1.0.5.bin", bytes);
        ASSERT_TRUE(maker.Write("default", 1, plat::CClock::Get().WallMs() / 1000 + 3600));
    }

    _TOBEUPDATE_DRIVER_INFO Only() {
        std::vector<_TOBEUPDATE_DRIVER_INFO> list;
        std::vector<_IGNORED_DRIVER_INFO> ignored;
        EXPECT_EQ(GetDriverNewVersionEx(list, ignored, 1), KVADL_OK);
        return list.empty() ? _TOBEUPDATE_DRIVER_INFO{} : list.front();
    }
};

TEST_F(ServerTest, DownloadDroppedRepeatedlyResumesToTheRightHash) {
    for (Backend b : {Backend::Server, Backend::KvaServe}) {
        SCOPED_TRACE(kvatest::BackendName(b));
        ASSERT_TRUE(Serve(b, "drop-after=700000"));
        MakeBigPackage();
        const auto pkg = Only();
        const auto r = Download(RequestFor(pkg, 5));
        ASSERT_TRUE(r.finished && r.success) << "error " << r.errorCode;
        EXPECT_EQ(Sha256Hex(kvatest::ReadAll(plat::ToHostPath(r.installPath))), pkg.hashInfo.strHash);
        PostDrvUpgrade("16", r.installPath, 1);  // clears the download for the next backend
    }
}

TEST_F(ServerTest, CorruptFaultIsCaughtByTheHash) {
    ASSERT_TRUE(Serve(Backend::Server, "corrupt"));
    MakeBigPackage();
    const auto r = Download(RequestFor(Only(), 5));
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.errorCode, DOWNLOAD_ERROR_HASH);
}

TEST_F(ServerTest, UpgradeStatusReportsReachTheService) {
    ASSERT_TRUE(Serve(Backend::Server));
    report rep;
    ASSERT_EQ(initReportDriverInfor(3, "15", "2.0", "Wireless LAN Driver", "2", rep), 0);
    EXPECT_EQ(ReportUpgradeStatusNew(3, "15-2.0", "2.0", rep), 0);
    std::ifstream in(Folder() / "reports" / "upgrade-status.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const auto sent = nlohmann::json::parse(line, nullptr, false);
    EXPECT_EQ(sent.value("status", ""), "3");
    EXPECT_EQ(sent.value("driverId", ""), "15");
    EXPECT_EQ(sent.value("product", ""), "Lanterna");
    EXPECT_EQ(sent.value("versionId", ""), "15-2.0");
    EXPECT_EQ(sent.value("otaId", ""), GetQOTAID());

    Configure("file://" + Folder().string(), PublicKey());
    EXPECT_EQ(ReportUpgradeStatusNew(4, "15-2.0", "2.0", rep), 0);
    Configure("http://127.0.0.1:1", PublicKey());  // nothing listens there
    EXPECT_NE(ReportUpgradeStatusNew(4, "15-2.0", "2.0", rep), 0);
}

TEST_F(ServerTest, BadRequestsAreRefusedAndTheServerGoesOn) {
    fs::create_directories(Folder() / "packages");
    std::ofstream(Folder() / "packages" / "a.bin") << "0123456789";
    std::ofstream(Folder().parent_path() / "secret.txt") << "secret";
    CUpdateServer server;
    std::string error;
    ASSERT_TRUE(server.Start(Folder(), 0, {}, &error)) << error;
    const auto port = server.Port();
    EXPECT_EQ(StatusLine(RawExchange(port, "GET /../secret.txt HTTP/1.1\r\n\r\n")), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(StatusLine(RawExchange(port, "GET /packages/%2e%2e/%2e%2e/secret.txt HTTP/1.1\r\n\r\n")),
              "HTTP/1.1 404 Not Found");
    EXPECT_EQ(StatusLine(RawExchange(port, "garbage\r\n\r\n")), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(StatusLine(RawExchange(port, "GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n")),
              "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(StatusLine(RawExchange(port, "POST /report HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n")),
              "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(StatusLine(RawExchange(port, "DELETE /packages/a.bin HTTP/1.1\r\n\r\n")),
              "HTTP/1.1 405 Method Not Allowed");
    // Ranges: from an offset, a suffix, and one past the end.
    auto body = [](const std::string& a) { return a.substr(a.find("\r\n\r\n") + 4); };
    const auto from = RawExchange(port, "GET /packages/a.bin HTTP/1.1\r\nRange: bytes=7-\r\n\r\n");
    EXPECT_EQ(StatusLine(from), "HTTP/1.1 206 Partial Content");
    EXPECT_NE(from.find("Content-Range: bytes 7-9/10"), std::string::npos);
    EXPECT_EQ(body(from), "789");
    EXPECT_EQ(body(RawExchange(port, "GET /packages/a.bin HTTP/1.1\r\nRange: bytes=-4\r\n\r\n")), "6789");
    EXPECT_EQ(body(RawExchange(port, "GET /packages/a.bin HTTP/1.1\r\nRange: bytes=2-4\r\n\r\n")), "234");
    EXPECT_EQ(StatusLine(RawExchange(port, "GET /packages/a.bin HTTP/1.1\r\nRange: bytes=10-\r\n\r\n")),
              "HTTP/1.1 416 Range Not Satisfiable");
    EXPECT_EQ(body(RawExchange(port, "GET /packages/a.bin HTTP/1.1\r\n\r\n")), "0123456789");
}

TEST_F(ServerTest, StopEndsStalledConnections) {
    ASSERT_TRUE(Serve(Backend::KvaServe, "stall"));
    MakeBigPackage();
    const auto req = RequestFor(Only(), 5);
    kvatest::CDownloadWatch watch;
    auto* mgr = CDriverDownloadManager::GetInstance();
    ASSERT_TRUE(watch.Start(req));
    ASSERT_TRUE(watch.WaitProgress(10));
    // The manager's shutdown ends the stalled transfer at once, as at unload.
    mgr->Shutdown();
    EXPECT_TRUE(watch.WaitEnd(std::chrono::seconds(1)));
    EXPECT_TRUE(watch.Result().cancelled);
    EXPECT_FALSE(mgr->BeginDownload("16", 5)) << "no download starts after shutdown";
    mgr->Restart();
}

}  // namespace
