// Links against every function the platform port declares, so that a port function without a
// Windows body fails the build instead of the first program that happens to call it. It is built,
// not run: ReferenceEveryPortFunction is never called. A function added to a port header belongs
// here too.
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

// Not static, so that neither the compiler nor the linker may drop it.
std::size_t ReferenceEveryPortFunction();

std::size_t ReferenceEveryPortFunction() {
    using namespace plat;
    const void* functions[] = {
        // AcpiWmi
        reinterpret_cast<const void*>(&CoInitializeEx), reinterpret_cast<const void*>(&CoUninitialize),
        reinterpret_cast<const void*>(&CoInitializeSecurity), reinterpret_cast<const void*>(&WmiRelease),
        reinterpret_cast<const void*>(&WmiCreateLocator), reinterpret_cast<const void*>(&WmiConnectServer),
        reinterpret_cast<const void*>(&WmiSetProxyBlanket), reinterpret_cast<const void*>(&WmiGetObject),
        reinterpret_cast<const void*>(&WmiGetMethod), reinterpret_cast<const void*>(&WmiSpawnInstance),
        reinterpret_cast<const void*>(&WmiPut), reinterpret_cast<const void*>(&WmiGet),
        reinterpret_cast<const void*>(&WmiExecMethod), reinterpret_cast<const void*>(&WmiCreateUnsecuredApartment),
        reinterpret_cast<const void*>(&WmiCreateObjectStub),
        reinterpret_cast<const void*>(&WmiExecNotificationQueryAsync),
        reinterpret_cast<const void*>(&WmiCancelAsyncCall),
        // Database
        reinterpret_cast<const void*>(&OpenDatabase),
        // DebugOutput
        reinterpret_cast<const void*>(&OutputDebugString), reinterpret_cast<const void*>(&DebugOutputFile),
        // Desktop
        reinterpret_cast<const void*>(&CreateTopWindow), reinterpret_cast<const void*>(&DestroyTopWindow),
        reinterpret_cast<const void*>(&IsWindowAlive), reinterpret_cast<const void*>(&IsWindowShown),
        reinterpret_cast<const void*>(&ShowTopWindow), reinterpret_cast<const void*>(&SetWindowRect),
        reinterpret_cast<const void*>(&SetWindowTitle), reinterpret_cast<const void*>(&GetWindowInfo),
        reinterpret_cast<const void*>(&FindTopWindow), reinterpret_cast<const void*>(&WindowAtPoint),
        reinterpret_cast<const void*>(&GetWindowProcessId), reinterpret_cast<const void*>(&DesktopWindow),
        reinterpret_cast<const void*>(&ShellWindow), reinterpret_cast<const void*>(&ForegroundWindow),
        reinterpret_cast<const void*>(&SetForegroundWindow), reinterpret_cast<const void*>(&SetWindowProperty),
        reinterpret_cast<const void*>(&GetWindowProperty), reinterpret_cast<const void*>(&ListWindows),
        reinterpret_cast<const void*>(&CurrentProcessId), reinterpret_cast<const void*>(&ProcessExists),
        reinterpret_cast<const void*>(&ListProcesses), reinterpret_cast<const void*>(&AddProcess),
        reinterpret_cast<const void*>(&RemoveProcess),
        // DeviceIo, Display
        reinterpret_cast<const void*>(&CreateDeviceFile), reinterpret_cast<const void*>(&DeviceIoControl),
        reinterpret_cast<const void*>(&CloseDevice), reinterpret_cast<const void*>(&GetSystemDpi),
        // Log
        reinterpret_cast<const void*>(&ConfigureLogging), reinterpret_cast<const void*>(&IsLogEnabled),
        reinterpret_cast<const void*>(&WriteLog), reinterpret_cast<const void*>(&QualifiedFunctionName),
        // Machine
        reinterpret_cast<const void*>(&OpenMachine), reinterpret_cast<const void*>(&StateFolder),
        reinterpret_cast<const void*>(&DefaultStateFolder), reinterpret_cast<const void*>(&BootId),
        reinterpret_cast<const void*>(&SimulateReboot), reinterpret_cast<const void*>(&GetOverride),
        reinterpret_cast<const void*>(&SetOverride), reinterpret_cast<const void*>(&ClearOverride),
        reinterpret_cast<const void*>(&ListOverrides), reinterpret_cast<const void*>(&ProductName),
        reinterpret_cast<const void*>(&CurrentUserSid),
        // Module, Paths, Power
        reinterpret_cast<const void*>(&LoadModule), reinterpret_cast<const void*>(&GetModuleExport),
        reinterpret_cast<const void*>(&FreeModule), reinterpret_cast<const void*>(&HostExecutablePath),
        reinterpret_cast<const void*>(static_cast<std::filesystem::path (*)(std::string_view)>(&ToHostPath)),
        reinterpret_cast<const void*>(static_cast<std::filesystem::path (*)(std::wstring_view)>(&ToHostPath)),
        reinterpret_cast<const void*>(&ToWindowsPath), reinterpret_cast<const void*>(&ProgramDataFolder),
        reinterpret_cast<const void*>(&ProgramFilesX86), reinterpret_cast<const void*>(&MakePrivateFolder),
        reinterpret_cast<const void*>(&GetPowerStatus), reinterpret_cast<const void*>(&GetDiskFreeSpace),
        // Process
        reinterpret_cast<const void*>(&RunProcess), reinterpret_cast<const void*>(&CatchStopSignals),
        reinterpret_cast<const void*>(&WaitForStopSignal), reinterpret_cast<const void*>(&RaiseStopSignal),
        reinterpret_cast<const void*>(&IsSuperUser), reinterpret_cast<const void*>(&ReadStandardInput),
        // Registry
        reinterpret_cast<const void*>(&RegOpenKey), reinterpret_cast<const void*>(&RegCreateKey),
        reinterpret_cast<const void*>(&RegCloseKey), reinterpret_cast<const void*>(&RegGetDword),
        reinterpret_cast<const void*>(&RegGetString), reinterpret_cast<const void*>(&RegGetStringAt),
        reinterpret_cast<const void*>(&RegGetStringsBelow), reinterpret_cast<const void*>(&RegSetDword),
        reinterpret_cast<const void*>(&RegSetString), reinterpret_cast<const void*>(&RegDeleteValue),
        reinterpret_cast<const void*>(&RegDeleteTree), reinterpret_cast<const void*>(&RegDumpAll),
        // SimDevices
        reinterpret_cast<const void*>(&ParsePdScript), reinterpret_cast<const void*>(&CurrentPdScript),
        reinterpret_cast<const void*>(&ListDeviceCalls), reinterpret_cast<const void*>(&ClearDeviceCalls),
        reinterpret_cast<const void*>(&ListEcImages),
        // Text, Types
        reinterpret_cast<const void*>(&ToUtf8), reinterpret_cast<const void*>(&FromUtf8),
        reinterpret_cast<const void*>(&AsciiLower), reinterpret_cast<const void*>(&EqualsNoCase),
        reinterpret_cast<const void*>(&GetLastError), reinterpret_cast<const void*>(&SetLastError),
        // WindowAutomation
        reinterpret_cast<const void*>(&PublishControl), reinterpret_cast<const void*>(&ReadControl),
        reinterpret_cast<const void*>(&ListControls), reinterpret_cast<const void*>(&PostAutomationRequest),
        reinterpret_cast<const void*>(&TakeAutomationRequests),
        reinterpret_cast<const void*>(&FinishAutomationRequest),
        reinterpret_cast<const void*>(&ReadAutomationResult),
        reinterpret_cast<const void*>(&WaitForAutomationRequest),
        reinterpret_cast<const void*>(&WakeAutomationWait),
        // Wmi
        reinterpret_cast<const void*>(&WmiQuery),
    };

    // Classes: every member, by use.
    CClock& clock = CClock::Get();
    CEvent event(false);
    event.Set();
    event.Reset();
    clock.UseReal();
    clock.UseScaled(2.0);
    clock.UseFake();
    std::size_t n = clock.IsFake() + static_cast<std::size_t>(clock.Scale()) + clock.TickCount64() +
                    static_cast<std::size_t>(clock.PerformanceCounter() + clock.WallMs()) + clock.Sleepers() +
                    static_cast<std::size_t>(clock.NextDeadlineIn()) + clock.Sleep(1, &event) +
                    (clock.Wait({&event}, 1) == WaitResult::Timeout) + clock.WaitForSleepers(1) + event.IsSet();
    clock.Advance(CClock::Ms(1));

    CStateDatabase database("file", "");
    n += database.Get(nullptr) != nullptr;

    CFile file;
    n += file.Open("f", true) + file.OpenForReading("f") + file.Size() + file.Truncate() + file.WriteAll("", 0) +
         static_cast<std::size_t>(file.ReadAt(nullptr, 0, 0));
    file.Close();

    CWaker waker;
    waker.Wake();
    CSocket socket = CSocket::ListenLoopback(0, nullptr);
    CSocket other = CSocket::ConnectLoopback(1);
    other = socket.Accept();
    n += waker.Valid() + socket.LocalPort() + (socket.WaitReadable(&waker, CClock::Ms(1)) == SocketWait::Ready) +
         (socket.WaitWritable(&waker, CClock::Ms(1)) == SocketWait::Ready) +
         socket.SendAll("", 0, &waker, CClock::Ms(1)) + static_cast<std::size_t>(socket.Receive(nullptr, 0));
    socket.ShutdownSending();
    socket.Shutdown();
    socket.Close();

    CChildProcess child;
    std::string line;
    n += child.Start("p", {}) + child.Running() + child.ReadLine(&line, CClock::Ms(1)) +
         static_cast<std::size_t>(child.Stop() + child.Wait(CClock::Ms(1)) + child.Pid());

    return n + sizeof(functions) / sizeof(functions[0]);
}

int main() {
    std::puts("every function of the platform port has a Windows body (this program linked)");
    return 0;
}
