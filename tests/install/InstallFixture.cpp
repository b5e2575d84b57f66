#include "InstallFixture.h"

#include "KVADownload/Folders.h"
#include "ipc/IPCReply.h"
#include "kva/platform/Clock.h"

namespace kvatest {

namespace {
constexpr auto kRealWait = std::chrono::seconds(20);
}

CInstallerStub::CInstallerStub() : m_client(0x30000, true, false) {
    m_client.BindMessageCallback(0x30008, [this](tagIPC_MESSAGE_ITEM& item) {
        CRequest r;
        r.item = item;
        r.item.pszMessage = nullptr;
        if (item.pszMessage) r.text.assign(item.pszMessage);
        r.msg = _SETUP_DRIVER_MSG::FromJson(r.text);
        std::optional<std::string> answer;
        {
            std::lock_guard lock(m_mtx);
            m_requests.push_back(r);
            answer = m_answer;
        }
        m_cv.notify_all();
        if (!answer) return;
        m_client.PostIPCMessage(MakeIPCReply(item, 0x30000, answer->empty() ? nullptr : answer->data(),
                                             static_cast<std::int32_t>(answer->size())));
    });
    m_client.BindMessageCallback(0x30006, m_commandLines.Callback());
    m_client.WaitForHub(kRealWait);
}

void CInstallerStub::Answer(std::optional<std::string> bytes) {
    std::lock_guard lock(m_mtx);
    m_answer = std::move(bytes);
}

bool CInstallerStub::WaitForRequests(std::size_t count) {
    std::unique_lock lock(m_mtx);
    return m_cv.wait_for(lock, kRealWait, [&] { return m_requests.size() >= count; });
}

std::vector<CInstallerStub::CRequest> CInstallerStub::Requests() {
    std::lock_guard lock(m_mtx);
    return m_requests;
}

std::vector<std::string> CInstallerStub::RequestedIds() {
    std::vector<std::string> ids;
    for (const auto& r : Requests()) ids.push_back(r.msg.id);
    return ids;
}

bool CInstallerStub::WaitForCommandLine(std::string* text) {
    const auto seen = m_commandLines.Take(0x30006, kRealWait);
    if (seen) *text = seen->payload.c_str();  // up to its terminator
    return seen.has_value();
}

void CInstallTest::SetUp() {
    CDriverTest::SetUp();
    m_installer = std::make_unique<CInstallerStub>();
}

void CInstallTest::TearDown() {
    m_installer.reset();
    CDriverTest::TearDown();
}

void CInstallTest::Ready(CKVAServerQuery& q, _DRIVER_UPDATE_TYPE table, const std::string& id, const std::string& name,
                         bool downloadedThisRun) {
    _TOBEUPDATE_DRIVER_INFO record = Package(id, name, 4096, table);
    record.strCurVersion = "0.9";
    ASSERT_TRUE(CDetectedFolderMgr(id, 1).WriteDrvInfo(record));
    enmUPGRADE_DRIVER_INFO entry;
    entry.strInstallFile = "C:\\ProgramData\\Vantor\\Pilotdeck\\DriverUpgrade\\Update\\Downloaded\\" + id + "\\setup.exe";
    entry.strDriverName = name;
    entry.strNextVersion = record.versionInfo.strNextVersion;
    entry.strNextVersionID = id + "-" + entry.strNextVersion;
    entry.FileSize = 4096;
    entry.downloadedThisRun = downloadedThisRun;
    entry.state = PACKAGE_DOWNLOADED;
    q.SetTableEntry(table, id, entry);
}

void CInstallTest::StartLoop(CKVAServerQuery& q) {
    auto& clock = plat::CClock::Get();
    ASSERT_TRUE(clock.WaitUntilIdle());  // the query thread in its start delay, the reporting thread asleep
    clock.Advance(std::chrono::milliseconds(2000));
    q.StartInstallThread();
}

bool CInstallTest::LoopAsleep(CKVAServerQuery& q, int passes) {
    // After a pass the install thread waits out its 120 s pause; the notice windows' own timers
    // (dots, the finished notice's hide) may come sooner, the query thread's start delay later.
    auto& clock = plat::CClock::Get();
    return Eventually([&] {
        const auto next = clock.NextDeadlineIn();
        return q.InstallPasses() == passes && next > 0 && next <= 120000;
    });
}

std::vector<std::string> CInstallTest::EventTexts(int shortNumber) {
    std::vector<std::string> out;
    for (const auto& e : Events(shortNumber)) {
        std::string line;
        for (std::size_t i = 1; i < e.values.size(); ++i) line += (i > 1 ? "|" : "") + e.values[i];
        out.push_back(line);
    }
    return out;
}

}  // namespace kvatest
