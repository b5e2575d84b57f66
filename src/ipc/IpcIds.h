// The suite's IPC address book: endpoint ids, topics and message ids as they travel on the wire.
// The service, the suite's peers in `kva suite` and the tests all name them from here. "in" and
// "out" are as the service sees a message.
#pragma once

#include <cstdint>

namespace ipc_endpoint {
inline constexpr int kMainUI = 0x20000;         // the suite's main UI
inline constexpr int kInstaller = 0x30000;      // the suite's installer, which runs every setup
inline constexpr int kMessageCentre = 0x40000;  // shows pop-ups and tips for other processes
inline constexpr int kService = 0x50000;        // this updater
inline constexpr int kAppManager = 0xF0000;     // the management application's driver pages
inline constexpr int kSynergy = 0x150000;       // knows whether a linked device is in use
inline constexpr int kDoctor = 0x200000;        // the diagnostics process
inline constexpr int kSelfUpdateUI = 0x360000;  // the self-update notice and the full updater
inline constexpr int kAppNotice = 0x580000;     // the application-update notice
inline constexpr int kSettings = 0x3A0000;      // the settings window
// Receiver and sender of a broadcast.
inline constexpr int kBroadcast = -1;
}  // namespace ipc_endpoint

namespace ipc_topic {
inline constexpr unsigned kSystemState = 0x300000;
}  // namespace ipc_topic

namespace ipc_msg {
// Installer (0x30000).
inline constexpr int kSetupApplication = 0x30006;  // out: an application setup command line
inline constexpr int kInstallEnd = 0x30007;        // in: the installer finished an install
inline constexpr int kSetupDriver = 0x30008;       // out: a setup request (JSON), answered with 8 bytes
inline constexpr int kDriverStatus = 0x3000B;      // out, awaited: are drivers installing? "1" or "0"
// Message centre (0x40000); 0xB0010 is the second id of every request to it.
inline constexpr int kMsgCenterRequest = 0x40003;   // out: a pop-up request record
inline constexpr int kMsgCenterSecondId = 0xB0010;  // never a message of its own
// Application manager and the service's own endpoint.
inline constexpr int kAppNoticeReply = 0x50003;    // second id of the page request 0xF0001
inline constexpr int kShowDriverPopup = 0x50004;   // out: may the driver pop-up show
inline constexpr int kAppMgAnswer = 0x50005;       // in: a flag, then package ids and next versions
inline constexpr int kCloseDriverPopup = 0x50006;  // out: the driver pop-up closes
inline constexpr int kAppMgCloseWin = 0x50008;     // in: 4 bytes, non-zero closes the tips
inline constexpr int kInstallProgress = 0x50013;   // out: the finish notice, first copy
inline constexpr int kInstallFinished = 0x50014;   // out: the finish notice, second copy
inline constexpr int kSynergyAnswer = 0x50015;     // in: synergy's answer, "1" in use
inline constexpr int kQueryBIOS = 0x50016;  // in: which BIOS version is installed (JSON), answered in kind
inline constexpr int kAppUpdateNotice = 0xF0001;      // out: the page the manager should open
inline constexpr int kMainUIAppUpdate = 0xF0002;      // out: a newer application exists
inline constexpr int kRestartRequest = 0xF0006;       // out: "reboot" or "shutdown"
inline constexpr int kPopRestartWnd = 0xF0008;        // in: show the restart reminder
inline constexpr int kDriverDownload = 0xF0009;       // in: download these packages (JSON), answered in kind
inline constexpr int kDriverDownloadOther = 0xF000A;  // in: the same, from the other download page
inline constexpr int kCancelDownload = 0xF000B;       // in: a typed cancel of one package's download
inline constexpr int kAppManagerUIStatus = 0xF000C;   // in: a package's install state as the UI saw it
inline constexpr int kUpdateXML = 0xF000D;            // in: check for a newer application now
inline constexpr int kGetFWVersion = 0xF000E;  // in: a device's firmware version (JSON), answered in kind
inline constexpr int kAppManagerUIInstall = 0xF000F;    // in: a manual install, answered under this id
inline constexpr int kCheckWinPE = 0xF0011;             // in: can the machine start WinPE, answered in kind
inline constexpr int kCheckDiagnoseAnalysis = 0xF0012;  // in: is a newer diagnose tool out, one byte back
inline constexpr int kDownloadDiagnoseAnalysis = 0xF0013;  // in: fetch the diagnose tool, one byte back
inline constexpr int kDiagnoseAnalysisReady = 0xF0014;     // broadcast: the diagnose tool is installed
// Synergy (0x150000), doctor (0x200000), settings window (0x3A0000), system state (topic 0x300000).
inline constexpr int kSynergyQuestion = 0x150239;         // out: is a linked device in use
inline constexpr int kDoctorDriverCount = 0x200003;       // out: the number of updatable drivers, 4 bytes
inline constexpr int kSystemState = 0x300001;             // published: the scene word and byte 28
inline constexpr int kSettingPopWindow = 0x3A0001;        // out: may a pop-up show
inline constexpr int kSettingPopWindowAnswer = 0x3A0002;  // in: one byte, non-zero lets it show
inline constexpr int kSettingCloseWin = 0x3A0003;         // in: one byte, the pop-up was closed
}  // namespace ipc_msg
