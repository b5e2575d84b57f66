// Where finished updates are written: the update history, the doctor history and the doctor's
// driver count.
#include <cstring>
#include <memory>

#include "DuiLib/UICulture.h"
#include "KVADownload/DriverMgmtDBHelper.h"
#include "Util/DE.h"
#include "Util/DataManager.h"
#include "Util/SystemInfo.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Log.h"
#include "install/DayStart.h"
#include "service/KVAServerQuery.h"

namespace {

constexpr int kDoctorEndpoint = 0x200000;
constexpr int kDriverCountMessage = 0x200003;

// UTF-16LE bytes of a text, two bytes per character, no terminator.
std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text) {
    std::vector<std::uint8_t> out;
    for (wchar_t c : text) {
        std::uint32_t cp = static_cast<std::uint32_t>(c);
        auto put = [&](std::uint16_t u) {
            out.push_back(static_cast<std::uint8_t>(u & 0xFF));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        };
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            put(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            put(static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

}  // namespace

// The last local midnight, in the seconds of `now`.
std::int64_t DayStartOf(std::int64_t now, int zoneHours) {
    const std::int64_t local = now + static_cast<std::int64_t>(zoneHours) * 3600;
    return now - (local % 86400);
}

void CKVAServerQuery::InsertToFinishUpdateDB(const std::int64_t& size, const std::string& id,
                                             const std::string& fromVersion, const std::string& toVersion) {
    const std::int64_t dayStart = DayStartOf(DE::Now(), SystemInfo::GetTimeZone());
    DriverMgmtDBHelper* db = DriverMgmtDBHelper::GetInstance();
    if (!db) return;
    finished_update_package row;
    row.strDriverID = id;
    row.strDayStart = std::to_string(dayStart);
    row.FileSize = size;
    row.strCurVersion = fromVersion;
    row.strNextVersion = toVersion;
    row.dayStart = dayStart;
    db->InsertFinishedUpdateItems(row);
}

void CKVAServerQuery::UpdateDoctorDB(int left) {
    const std::int64_t nowMs = plat::CClock::Get().WallMs();
    std::wstring description;
    int status = 0;
    if (left <= 0) {
        std::vector<DataManager::Row> rows;
        DataManager::Instance()->Get("select * from TABLE_DRIVER_HISTORY", 1, rows);
        description = DuiLib::UICulture::GetInstance()->GetMultiVarStr(L"IDS_DOCTOR_DEVICE_NORMAL_DESC2",
                                                                       {static_cast<std::int64_t>(rows.size())}, 0);
        status = 1;
    } else {
        description = L"IDS_DOCTOR_DEVICE_ABNORMAL_DESC";
        status = 6;
    }
    const DataManager::Row row{std::int64_t{0xF0000},
                               Utf16Bytes(L"IDS_DRVUP_M04_S01"),
                               std::int64_t{status},
                               std::int64_t{static_cast<std::uint8_t>(6 * left)},
                               std::int64_t{static_cast<std::uint8_t>(left)},
                               Utf16Bytes(description),
                               nowMs};
    DataManager::Instance()->Put("TABLE_DOCTOR_HISTORY", row);
}

bool CKVAServerQuery::SendDrvNumtoDoctor(int count) {
    std::unique_ptr<char[]> body(new (std::nothrow) char[4]);
    if (!body) {
        KVA_LOG_ERROR("Create Message address fail");
        return false;
    }
    const auto n = static_cast<std::uint32_t>(count);
    for (int i = 0; i < 4; ++i) body[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    tagIPC_MESSAGE_ITEM item{};
    item.nReceiverID = kDoctorEndpoint;
    item.nSenderID = 0x50000;
    item.nMessageID = kDriverCountMessage;
    item.nReplyMessageID = 0;
    item.nReserved = -1;
    item.nSyncMessageId = 0;
    item.nMessageLen = 4;
    item.pszMessage = body.get();
    item.bReserved = false;
    m_ipcClient.PostIPCMessage(item);
    return true;
}
