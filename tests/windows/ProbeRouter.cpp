// A stand-in for the router process: it writes down how it was started and then waits to be
// terminated, as the real router does. The file it writes is named by VORLEN_PROBE_RECORD; it is
// written under another name and renamed, so a reader never sees half of it.
//
// Given "--service" it is a service instead, which runs until the control manager stops it.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

std::string Utf8(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.pop_back(); // the terminating zero
    return out;
}

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
    return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
HANDLE gStop = nullptr;

void Report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(gStatusHandle, &status);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(gStop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t** args) {
    gStatusHandle = RegisterServiceCtrlHandlerExW(args[0], OnControl, nullptr);
    if (gStatusHandle == nullptr) {
        return;
    }
    gStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(gStop, INFINITE);
    Report(SERVICE_STOPPED);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--service") {
        wchar_t name[] = L"";
        const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(table) ? 0 : 5;
    }
    // Asked to end at once: a router that failed on its own before anyone terminated it.
    if (const std::wstring code = Env(L"VORLEN_PROBE_EXIT"); !code.empty()) {
        return std::wcstol(code.c_str(), nullptr, 10);
    }

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    GetStartupInfoW(&si);
    wchar_t dir[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, dir);

    // A handle value from our parent's table. It names the parent's event here only if the
    // parent let us inherit its handles; a value that names nothing or something else of ours
    // cannot reach the parent's event.
    std::string inherited = "none";
    if (const std::wstring value = Env(L"VORLEN_PROBE_EVENT"); !value.empty()) {
        const auto handle = reinterpret_cast<HANDLE>(
            static_cast<std::uintptr_t>(std::wcstoull(value.c_str(), nullptr, 10)));
        inherited = SetEvent(handle) != 0 ? "set" : "failed";
    }

    std::string record;
    record += "cmdline=" + Utf8(GetCommandLineW()) + "\n";
    record += "cwd=" + Utf8(dir) + "\n";
    record += "flags=" + std::to_string(si.dwFlags) + "\n";
    record += "show=" + std::to_string(si.wShowWindow) + "\n";
    record += "env=" + Utf8(Env(L"VORLEN_PROBE_ENV").c_str()) + "\n";
    record += "event=" + inherited + "\n";

    const std::wstring target = Env(L"VORLEN_PROBE_RECORD");
    if (target.empty()) {
        return 2;
    }
    const std::wstring temp = target + L".tmp";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 3;
    }
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return 4;
    }
    for (;;) {
        Sleep(INFINITE);
    }
}
