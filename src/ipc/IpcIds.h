// The suite's IPC address book: endpoint ids, topics and message ids as they travel on the wire.
// The service, the suite's peers in `kva suite` and the tests all name them from here.
#pragma once

#include <cstdint>

namespace ipc_endpoint {
inline constexpr int kMainUI = 0x20000;
inline constexpr int kInstaller = 0x30000;
inline constexpr int kMessageCentre = 0x40000;
inline constexpr int kService = 0x50000;
inline constexpr int kAppManager = 0xF0000;
inline constexpr int kSynergy = 0x150000;
inline constexpr int kDoctor = 0x200000;
// The notice controllers' own clients: the application-update notice and the self-update windows.
inline constexpr int kSelfUpdateUI = 0x360000;
inline constexpr int kAppNotice = 0x580000;
inline constexpr int kSettings = 0x3A0000;
// Receiver and sender of a broadcast.
inline constexpr int kBroadcast = -1;
}  // namespace ipc_endpoint

namespace ipc_topic {
inline constexpr unsigned kSystemState = 0x300000;
}  // namespace ipc_topic

namespace ipc_msg {
// Installer (0x30000).
inline constexpr int kSetupApplication = 0x30006;
inline constexpr int kInstallEnd = 0x30007;
inline constexpr int kSetupDriver = 0x30008;
inline constexpr int kDriverStatus = 0x3000B;
// Message centre (0x40000); 0xB0010 is the second id of every request to it.
inline constexpr int kMsgCenterRequest = 0x40003;
inline constexpr int kMsgCenterSecondId = 0xB0010;
// Application manager and the service's own endpoint.
inline constexpr int kAppNoticeReply = 0x50003;
inline constexpr int kShowDriverPopup = 0x50004;
inline constexpr int kAppMgAnswer = 0x50005;
inline constexpr int kCloseDriverPopup = 0x50006;
inline constexpr int kAppMgCloseWin = 0x50008;
inline constexpr int kInstallProgress = 0x50013;
inline constexpr int kInstallFinished = 0x50014;
inline constexpr int kSynergyAnswer = 0x50015;
inline constexpr int kQueryBIOS = 0x50016;
inline constexpr int kAppUpdateNotice = 0xF0001;
inline constexpr int kMainUIAppUpdate = 0xF0002;
inline constexpr int kRestartRequest = 0xF0006;
inline constexpr int kPopRestartWnd = 0xF0008;
inline constexpr int kDriverDownload = 0xF0009;
inline constexpr int kDriverDownloadOther = 0xF000A;
inline constexpr int kCancelDownload = 0xF000B;
inline constexpr int kAppManagerUIStatus = 0xF000C;
inline constexpr int kUpdateXML = 0xF000D;
inline constexpr int kGetFWVersion = 0xF000E;
inline constexpr int kAppManagerUIInstall = 0xF000F;
inline constexpr int kCheckWinPE = 0xF0011;
inline constexpr int kCheckDiagnoseAnalysis = 0xF0012;
inline constexpr int kDownloadDiagnoseAnalysis = 0xF0013;
inline constexpr int kDiagnoseAnalysisReady = 0xF0014;
// Synergy (0x150000), doctor (0x200000), settings window (0x3A0000), system state (topic 0x300000).
inline constexpr int kSynergyQuestion = 0x150239;
inline constexpr int kDoctorDriverCount = 0x200003;
inline constexpr int kSystemState = 0x300001;
inline constexpr int kSettingPopWindow = 0x3A0001;
inline constexpr int kSettingPopWindowAnswer = 0x3A0002;
inline constexpr int kSettingCloseWin = 0x3A0003;
}  // namespace ipc_msg
