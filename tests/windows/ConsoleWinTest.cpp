// The console terminal on Windows against the Windows build of the simulator, found the way a
// trader's machine finds the exchange's gateway: through the installation's registry key.

#include "WinTestSupport.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <vector>

using namespace vorlen;
using namespace vorlen::wintest;

namespace {

const char* const kGatewayKey = "SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate";

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Processes started by `parent` whose program is named `exe`.
std::vector<DWORD> ChildrenNamed(DWORD parent, const wchar_t* exe) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, exe) == 0) {
            found.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return found;
}

HANDLE InheritableFile(const fs::path& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TEST(ConsoleOnWindows, GoesOnlineWithTheRegisteredSimulatorAndEndsTheRouterItStarted) {
    const fs::path simulator = BuiltPath(VORLEN_SIM_GATEWAY_DIR);
    std::string installDir;
    const bool registered = platform::ReadMachineString(kGatewayKey, "InstallDir", installDir) &&
                            !installDir.empty() &&
                            SameFolder(fs::path(platform::WideFromUtf8(installDir)), simulator);
    if (!registered) {
        ASSERT_FALSE(UnderWine()) << "HKLM\\" << kGatewayKey << " InstallDir is \"" << installDir
                                  << "\", not the simulator's " << Utf8(simulator)
                                  << " (the windows leg of scripts/test registers it)";
        GTEST_SKIP() << "the registry names another gateway installation: " << installDir;
    }
    ASSERT_TRUE(ChildrenNamed(GetCurrentProcessId(), L"P2MQRouter64.exe").empty());

    TempFolder work;
    const fs::path outPath = work.Root / "stdout.txt";
    const fs::path errPath = work.Root / "stderr.txt";
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    ASSERT_NE(err, INVALID_HANDLE_VALUE);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = out;
    si.hStdError = err;
    std::wstring command = L"\"" + BuiltPath(VORLEN_CONSOLE).native() + L"\" --until-online";
    PROCESS_INFORMATION console{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        work.Root.c_str(), &si, &console);
    CloseHandle(out);
    CloseHandle(err);
    ASSERT_TRUE(started) << platform::SystemErrorText(GetLastError());

    // Catch the router while the console runs, to see afterwards how it ended.
    HANDLE router = nullptr;
    DWORD consoleEnd = WAIT_TIMEOUT;
    const ULONGLONG deadline = GetTickCount64() + 100000;
    while (consoleEnd == WAIT_TIMEOUT && GetTickCount64() < deadline) {
        if (router == nullptr) {
            for (const DWORD pid : ChildrenNamed(console.dwProcessId, L"P2MQRouter64.exe")) {
                router = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
            }
        }
        consoleEnd = WaitForSingleObject(console.hProcess, router == nullptr ? 5 : 100);
    }
    if (consoleEnd != WAIT_OBJECT_0) {
        TerminateProcess(console.hProcess, 99);
        WaitForSingleObject(console.hProcess, 10000);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(console.hProcess, &exitCode);
    const std::string journal = ReadFile(outPath);
    const std::string errors = ReadFile(errPath);
    EXPECT_EQ(consoleEnd, static_cast<DWORD>(WAIT_OBJECT_0)) << "still running after 100 s";
    EXPECT_EQ(exitCode, 0u) << errors;
    EXPECT_NE(journal.find("Инструменты добавлены."), std::string::npos) << journal << errors;

    ASSERT_NE(router, nullptr) << "the console started no router";
    // Terminated with exit code 0 before the console ended, not left to end later.
    EXPECT_EQ(WaitForSingleObject(router, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD routerCode = 1;
    GetExitCodeProcess(router, &routerCode);
    EXPECT_EQ(routerCode, 0u);
    EXPECT_TRUE(ChildrenNamed(console.dwProcessId, L"P2MQRouter64.exe").empty());
    CloseHandle(router);
    CloseHandle(console.hThread);
    CloseHandle(console.hProcess);
}
