// The router's start and end with the real CreateProcess and TerminateProcess, and the
// connector that does both with the installation it finds in the real registry.

#include "WinTestSupport.h"
#include "connector/Connector.h"
#include "platform/Module.h"
#include "platform/ProcessStart.h"

#include <gtest/gtest.h>

using namespace vorlen;
using namespace vorlen::wintest;

namespace {

// Our own handle to a started process, so that its end can still be observed after the code
// under test has closed the handles it was given.
class ProcessWatch {
public:
    explicit ProcessWatch(DWORD pid)
        : FHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {}
    ~ProcessWatch() {
        if (FHandle != nullptr) {
            CloseHandle(FHandle);
        }
    }
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    bool Valid() const { return FHandle != nullptr; }
    // Ended already, without waiting.
    bool Ended() const { return WaitForSingleObject(FHandle, 0) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(FHandle, &code);
        return code;
    }

private:
    HANDLE FHandle;
};

HANDLE ProcessOf(const TProcInfo& info) {
    return reinterpret_cast<HANDLE>(platform::ProcessHandleValue(info));
}

} // namespace

TEST(RouterProcess, StartsWithTheRouterCommandLineDirectoryAndStartupRecord) {
    ProbeInstallation inst(VORLEN_PROBE_ROUTER);
    // An event the child could signal only if it had inherited our handles.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    ScopedEnv record(L"VORLEN_PROBE_RECORD", inst.Record.native());
    ScopedEnv env(L"VORLEN_PROBE_ENV", L"окружение вызывающего");
    ScopedEnv leak(L"VORLEN_PROBE_EVENT", std::to_wstring(reinterpret_cast<std::uintptr_t>(event)));

    const std::string router = Utf8(inst.Router);
    const std::string commandLine = RouterCommandLine(router, "client_router.ini", '\\');
    TProcInfo info{};
    ASSERT_TRUE(
        platform::StartProcess(router, commandLine, platform::DirectoryOf(router, '\\'), info));
    const std::string started = WaitForRecord(inst.Record);
    ASSERT_NE(started, "") << "the router wrote no record";

    EXPECT_EQ(RecordField(started, "cmdline"), commandLine);
    EXPECT_EQ(RecordField(started, "cmdline"),
              "\"" + Utf8(inst.Folder.Root) + "\\bin\\P2MQRouter64.exe\" /ini:\"" +
                  Utf8(inst.Folder.Root) + "\\client_router.ini\"");
    EXPECT_EQ(RecordField(started, "cwd"), Utf8(inst.Folder.Root / "bin"));
    // A start-up record of zeros but its size and wShowWindow: the show-window value is there
    // without the flag that would make it count.
    EXPECT_EQ(RecordField(started, "flags"), "0");
    EXPECT_EQ(RecordField(started, "show"), "1");
    EXPECT_EQ(RecordField(started, "env"), "окружение вызывающего");
    EXPECT_NE(RecordField(started, "event"), "<missing>");
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the router inherited our handles";
    EXPECT_EQ(GetPriorityClass(ProcessOf(info)), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(GetProcessId(ProcessOf(info)), info.dwProcessId);
    EXPECT_EQ(GetThreadId(reinterpret_cast<HANDLE>(platform::ThreadHandleValue(info))),
              info.dwThreadId);

    ProcessWatch watch(info.dwProcessId);
    ASSERT_TRUE(watch.Valid());
    EXPECT_FALSE(watch.Ended());
    ASSERT_TRUE(platform::TerminateStartedProcess(platform::ProcessHandleValue(info), 7));
    // Windows only starts the termination; the call returns once the process is really gone.
    EXPECT_TRUE(watch.Ended());
    EXPECT_EQ(watch.ExitCode(), 7u);
    EXPECT_TRUE(platform::CloseProcessHandle(platform::ThreadHandleValue(info)));
    EXPECT_TRUE(platform::CloseProcessHandle(platform::ProcessHandleValue(info)));
    CloseHandle(event);
}

TEST(RouterProcess, ARouterThatEndedOnItsOwnCountsAsEnded) {
    ProbeInstallation inst(VORLEN_PROBE_ROUTER);
    ScopedEnv exit(L"VORLEN_PROBE_EXIT", L"3");
    const std::string router = Utf8(inst.Router);
    TProcInfo info{};
    ASSERT_TRUE(platform::StartProcess(router, RouterCommandLine(router, "client_router.ini", '\\'),
                                       platform::DirectoryOf(router, '\\'), info));
    ASSERT_EQ(WaitForSingleObject(ProcessOf(info), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    // Windows refuses to terminate a process that has ended; the process has ended all the same.
    EXPECT_TRUE(platform::TerminateStartedProcess(platform::ProcessHandleValue(info), 0));
    DWORD code = 0;
    GetExitCodeProcess(ProcessOf(info), &code);
    EXPECT_EQ(code, 3u);
    EXPECT_TRUE(platform::CloseProcessHandle(platform::ThreadHandleValue(info)));
    EXPECT_TRUE(platform::CloseProcessHandle(platform::ProcessHandleValue(info)));
}

TEST(RouterProcess, AProgramThatIsNotThereIsReportedAndNothingIsFilledIn) {
    TempFolder folder;
    const std::string missing = Utf8(folder.Root / "bin" / "P2MQRouter64.exe");
    TProcInfo info{};
    EXPECT_FALSE(platform::StartProcess(
        missing, RouterCommandLine(missing, "client_router.ini", '\\'), "", info));
    EXPECT_EQ(platform::ProcessHandleValue(info), 0u);
    EXPECT_EQ(platform::ThreadHandleValue(info), 0u);
    EXPECT_EQ(info.dwProcessId, 0u);
}

TEST(RouterProcess, TheConnectorStartsTheRouterOfTheRegisteredInstallationAndEndsIt) {
    ProbeInstallation inst(VORLEN_PROBE_ROUTER);
    MachineKey key;
    VORLEN_REQUIRE_MACHINE_KEY(key);
    ASSERT_EQ(key.SetText("InstallDir", Utf8(inst.Folder.Root) + "\\"), ERROR_SUCCESS);
    ScopedEnv record(L"VORLEN_PROBE_RECORD", inst.Record.native());

    const std::string savedDir = platform::CurrentDir();
    DWORD pid = 0;
    std::unique_ptr<ProcessWatch> watch;
    {
        // Everything real: registry, service control manager, CreateProcess, TerminateProcess.
        TCGConnector connector;
        const std::string routPath = connector.GetCGRouterPath(key.Path, "InstallDir");
        EXPECT_EQ(routPath, Utf8(inst.Folder.Root) + "\\bin\\");
        ASSERT_TRUE(connector.LoadRouter(routPath + "P2MQRouter64.exe", key.Path, "InstallDir",
                                         "client_router.ini", "", "VorlenNoSuchRouterService"));
        pid = connector.Settings().ProcInfo.dwProcessId;
        ASSERT_NE(pid, 0u);
        watch = std::make_unique<ProcessWatch>(pid);
        ASSERT_TRUE(watch->Valid());
        const std::string started = WaitForRecord(inst.Record);
        ASSERT_NE(started, "") << "the router wrote no record";
        EXPECT_EQ(RecordField(started, "cmdline"), "\"" + routPath + "P2MQRouter64.exe\" /ini:\"" +
                                                       Utf8(inst.Folder.Root) +
                                                       "\\client_router.ini\"");
        EXPECT_FALSE(watch->Ended());
    }
    // The connector's destruction terminated the router with exit code 0 and waited for it.
    EXPECT_TRUE(watch->Ended());
    EXPECT_EQ(watch->ExitCode(), 0u);
    // Starting a process does not move this one.
    EXPECT_EQ(platform::CurrentDir(), savedDir);
}
