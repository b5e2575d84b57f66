// Links against every function the platform port declares, so that a port function without a
// Windows body fails the build instead of the first program that happens to call it. It is built,
// not run: ReferenceEveryPortFunction is never called. A function added to a port header belongs
// here too.
#include <cstdint>
#include <cstdio>

#include "kva/platform/AcpiWmi.h"
#include "kva/platform/Clock.h"
#include "kva/platform/Database.h"
#include "kva/platform/DebugOutput.h"
#include "kva/platform/Desktop.h"
#include "kva/platform/DeviceIo.h"
#include "kva/platform/Display.h"
#include "kva/platform/File.h"
#include "kva/platform/Log.h"
#include "kva/platform/Machine.h"
#include "kva/platform/Module.h"
#include "kva/platform/Paths.h"
#include "kva/platform/Power.h"
#include "kva/platform/Process.h"
#include "kva/platform/Registry.h"
#include "kva/platform/SimDevices.h"
#include "kva/platform/Socket.h"
#include "kva/platform/Text.h"
#include "kva/platform/Types.h"
#include "kva/platform/WindowAutomation.h"
#include "kva/platform/Wmi.h"

// Sums the functions' addresses. A sum the program computes keeps every reference to the end (an
// array of addresses that nothing reads is optimised away), so each function must resolve at link.
template <class... F>
std::size_t AddressSum(F*... functions) {
    return (std::size_t{0} + ... + reinterpret_cast<std::uintptr_t>(functions));
}

// Not static, so that neither the compiler nor the linker may drop it.
std::size_t ReferenceEveryPortFunction();

std::size_t ReferenceEveryPortFunction() {
    using namespace plat;
    using NarrowPath = std::filesystem::path (*)(std::string_view);
    using WidePath = std::filesystem::path (*)(std::wstring_view);
    std::size_t n =
        AddressSum(&CoInitializeEx, &CoUninitialize, &CoInitializeSecurity, &WmiRelease, &WmiCreateLocator,
                   &WmiConnectServer, &WmiSetProxyBlanket, &WmiGetObject, &WmiGetMethod, &WmiSpawnInstance,
                   &WmiPut, &WmiGet, &WmiExecMethod, &WmiCreateUnsecuredApartment, &WmiCreateObjectStub,
                   &WmiExecNotificationQueryAsync, &WmiCancelAsyncCall);
    n += AddressSum(&OpenDatabase);
    n += AddressSum(&OutputDebugString, &DebugOutputFile);
    n += AddressSum(&CreateTopWindow, &DestroyTopWindow, &IsWindowAlive, &IsWindowShown, &ShowTopWindow,
                    &SetWindowRect, &SetWindowTitle, &GetWindowInfo, &FindTopWindow, &WindowAtPoint,
                    &GetWindowProcessId, &DesktopWindow, &ShellWindow, &ForegroundWindow,
                    &SetForegroundWindow, &SetWindowProperty, &GetWindowProperty, &ListWindows,
                    &CurrentProcessId, &ProcessExists, &ListProcesses, &AddProcess, &RemoveProcess);
    n += AddressSum(&CreateDeviceFile, &DeviceIoControl, &CloseDevice, &GetSystemDpi);
    n += AddressSum(&ConfigureLogging, &IsLogEnabled, &WriteLog, &QualifiedFunctionName);
    n += AddressSum(&OpenMachine, &StateFolder, &DefaultStateFolder, &BootId, &SimulateReboot, &GetOverride,
                    &SetOverride, &ClearOverride, &ListOverrides, &ProductName, &CurrentUserSid);
    n += AddressSum(&LoadModule, &GetModuleExport, &FreeModule, &HostExecutablePath,
                    static_cast<NarrowPath>(&ToHostPath), static_cast<WidePath>(&ToHostPath), &ToWindowsPath,
                    &ProgramDataFolder, &ProgramFilesX86, &MakePrivateFolder, &GetPowerStatus,
                    &GetDiskFreeSpace);
    n += AddressSum(&RunProcess, &CatchStopSignals, &WaitForStopSignal, &RaiseStopSignal, &IsSuperUser,
                    &ReadStandardInput);
    n += AddressSum(&RegOpenKey, &RegCreateKey, &RegCloseKey, &RegGetDword, &RegGetString, &RegGetStringAt,
                    &RegGetStringsBelow, &RegSetDword, &RegSetString, &RegDeleteValue, &RegDeleteTree,
                    &RegDumpAll);
    n += AddressSum(&ParsePdScript, &CurrentPdScript, &ListDeviceCalls, &ClearDeviceCalls, &ListEcImages);
    n += AddressSum(&ToUtf8, &FromUtf8, &AsciiLower, &EqualsNoCase, &GetLastError, &SetLastError);
    n += AddressSum(&PublishControl, &ReadControl, &ListControls, &PostAutomationRequest,
                    &TakeAutomationRequests, &FinishAutomationRequest, &ReadAutomationResult,
                    &WaitForAutomationRequest, &WakeAutomationWait);
    n += AddressSum(&WmiQuery);

    // Classes: every member, by use.
    CClock& clock = CClock::Get();
    CEvent event(false);
    event.Set();
    event.Reset();
    clock.UseReal();
    clock.UseScaled(2.0);
    clock.UseFake();
    n += clock.IsFake() + static_cast<std::size_t>(clock.Scale()) + clock.TickCount64() +
         static_cast<std::size_t>(clock.PerformanceCounter() + clock.WallMs()) + clock.Sleepers() +
         static_cast<std::size_t>(clock.NextDeadlineIn()) + clock.Sleep(1, &event) +
         (clock.Wait({&event}, 1) == WaitResult::Timeout) + clock.WaitForSleepers(1) + event.IsSet();
    clock.Advance(CClock::Ms(1));

    CStateDatabase database("file", "");
    n += database.Get(nullptr) != nullptr;

    CFile file;
    n += file.Open("f", true) + file.OpenForReading("f") + file.Size() + file.Truncate() +
         file.WriteAll("", 0) + static_cast<std::size_t>(file.ReadAt(nullptr, 0, 0));
    file.Close();

    CWaker waker;
    waker.Wake();
    CSocket socket = CSocket::ListenLoopback(0, nullptr);
    CSocket other = CSocket::ConnectLoopback(1);
    other = socket.Accept();
    n += waker.Valid() + socket.LocalPort() +
         (socket.WaitReadable(&waker, CClock::Ms(1)) == SocketWait::Ready) +
         (socket.WaitWritable(&waker, CClock::Ms(1)) == SocketWait::Ready) +
         socket.SendAll("", 0, &waker, CClock::Ms(1)) + static_cast<std::size_t>(socket.Receive(nullptr, 0));
    socket.ShutdownSending();
    socket.Shutdown();
    socket.Close();

    CChildProcess child;
    std::string line;
    n += child.Start("p", {}) + child.Running() + child.ReadLine(&line, CClock::Ms(1)) +
         static_cast<std::size_t>(child.Stop() + child.Wait(CClock::Ms(1)) + child.Pid());

    return n;
}

int main() {
    std::puts("every function of the platform port has a Windows body (this program linked)");
    return 0;
}
