// The short numbers of the data events the service reports (sent as 601000000 + n).
#pragma once

#include <cstdint>

namespace evt {
// The reported id of short number n is kEventBase + n.
inline constexpr std::int64_t kEventBase = 601000000;
inline constexpr int kDriverInstallFailed = 2005;
inline constexpr int kDriverInstallTime = 2006;
inline constexpr int kUpdateDisabled = 2009;
inline constexpr int kFreeScene = 2010;
inline constexpr int kCheckRound = 3001;
inline constexpr int kAppNoNewVersion = 3004;
inline constexpr int kAppVersionMissing = 3007;
inline constexpr int kAppUpdateError = 3011;
inline constexpr int kFullUpdaterDownload = 4002;
inline constexpr int kAppInstallCancelled = 4012;
inline constexpr int kAppLastVersion = 4013;
inline constexpr int kAppInstallStartFailed = 4014;
inline constexpr int kAppInstallStart = 4015;
inline constexpr int kOtaId = 4016;
inline constexpr int kAppNoticeShown = 5006;
inline constexpr int kDriverUpdateError = 6001;
inline constexpr int kRestartChoice = 6009;
inline constexpr int kForcedGate = 6011;
inline constexpr int kRestartPower = 6012;
inline constexpr int kSetupRequestFailed = 6013;
inline constexpr int kLateDownloadSize = 7003;
inline constexpr int kLateDownload = 7005;
inline constexpr int kSpaceShort = 7007;
}  // namespace evt
