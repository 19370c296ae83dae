#pragma once

// What the Windows tests share: folders and registry keys of their own that are removed again,
// whatever a test leaves behind, and the programs and libraries the build put beside them.

#include "platform/WinText.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <windows.h>

namespace vorlen::wintest {

namespace fs = std::filesystem;

inline std::string Utf8(const fs::path& path) {
    return platform::Utf8FromWide(path.native());
}

// A path the build wrote in host form ("/work/..."), as this process names it ("Z:\work\...").
inline fs::path BuiltPath(const char* hostPath) {
    return fs::absolute(fs::path(hostPath)).lexically_normal();
}

// Whether two absolute paths name the same folder, with or without a trailing separator, the
// way Windows compares names (the C runtime's stat, behind std::filesystem::equivalent, does
// not take a trailing separator).
inline bool SameFolder(const fs::path& a, const fs::path& b) {
    std::wstring x = a.lexically_normal().native();
    std::wstring y = b.lexically_normal().native();
    while (!x.empty() && x.back() == L'\\') {
        x.pop_back();
    }
    while (!y.empty() && y.back() == L'\\') {
        y.pop_back();
    }
    return CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

// A fresh folder under the temporary folder. Its name has Cyrillic letters, so every path that
// passes through the code under test must survive the trip through UTF-8 and UTF-16, and it never
// contains "bin", which would change the router's path rules.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& stem = L"Торги") {
        const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0;; ++attempt) {
            Root = fs::temp_directory_path() /
                   (L"vorlen " + stem + L" " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(tick + attempt));
            if (Utf8(Root).find("bin") == std::string::npos && fs::create_directories(Root)) {
                break;
            }
        }
    }
    ~TempFolder() {
        // A program started from here may still be on its way out; Windows keeps its file open
        // until then.
        for (int attempt = 0; attempt < 50; ++attempt) {
            std::error_code ec;
            fs::remove_all(Root, ec);
            if (!ec) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    fs::path Root;
};

// A key of our own under HKEY_LOCAL_MACHINE\SOFTWARE, deleted with everything below it.
class MachineKey {
public:
    MachineKey() {
        Path = "SOFTWARE\\Vorlen Tests\\" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount64());
        const std::wstring wide = platform::WideFromUtf8(Path);
        Status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide.c_str(), 0, nullptr, 0,
                                 KEY_READ | KEY_WRITE, nullptr, &FKey, nullptr);
    }
    ~MachineKey() {
        if (FKey != nullptr) {
            RegCloseKey(FKey);
            const std::wstring wide = platform::WideFromUtf8(Path);
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide.c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, wide.c_str());
        }
    }
    MachineKey(const MachineKey&) = delete;
    MachineKey& operator=(const MachineKey&) = delete;

    bool Created() const { return Status == ERROR_SUCCESS; }

    // Stores `bytes` as they are, so a test can also write data without the terminating zero.
    LONG SetRaw(const std::string& name, DWORD type, const void* bytes, DWORD size) {
        const std::wstring wide = platform::WideFromUtf8(name);
        return RegSetValueExW(FKey, wide.c_str(), 0, type, static_cast<const BYTE*>(bytes), size);
    }
    LONG SetText(const std::string& name, const std::string& text, DWORD type = REG_SZ) {
        const std::wstring wide = platform::WideFromUtf8(text);
        return SetRaw(name, type, wide.c_str(),
                      static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }

    std::string Path; // below HKEY_LOCAL_MACHINE
    LONG Status = ERROR_SUCCESS;

private:
    HKEY FKey = nullptr;
};

// The creation of a key under HKEY_LOCAL_MACHINE needs an administrator on Windows (wine lets
// anyone); a test that needs one says so instead of failing.
#define VORLEN_REQUIRE_MACHINE_KEY(key)                                                            \
    do {                                                                                           \
        if ((key).Status == ERROR_ACCESS_DENIED) {                                                 \
            GTEST_SKIP() << "writing under HKEY_LOCAL_MACHINE needs an administrator";             \
        }                                                                                          \
        ASSERT_TRUE((key).Created()) << platform::SystemErrorText((key).Status);                   \
    } while (false)

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Waits for the whole record the probe router writes (its last line is "event=..."); empty when
// it has not appeared in time. The record is read until complete rather than trusted once the
// name exists, so a reader that comes early is never served half of it.
inline std::string WaitForRecord(const fs::path& path,
                                 std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::error_code ec;
        if (fs::exists(path, ec)) {
            std::string record = ReadFile(path);
            if (record.find("\nevent=") != std::string::npos && record.back() == '\n') {
                return record;
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// "name=value" lines, as the probe router writes them.
inline std::string RecordField(const std::string& record, const std::string& name) {
    std::istringstream in(record);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, name.size() + 1, name + "=") == 0) {
            return line.substr(name.size() + 1);
        }
    }
    return "<missing>";
}

// Sets an environment variable of this process for the lifetime of the object; children started
// meanwhile inherit it.
class ScopedEnv {
public:
    ScopedEnv(const std::wstring& name, const std::wstring& value) : FName(name) {
        wchar_t buffer[4096];
        const DWORD n = GetEnvironmentVariableW(name.c_str(), buffer, 4096);
        FHad = n > 0 && n < 4096;
        if (FHad) {
            FOld.assign(buffer, n);
        }
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(FName.c_str(), FHad ? FOld.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::wstring FName;
    std::wstring FOld;
    bool FHad = false;
};

// A Windows "installation" of the probe router: <root>\bin\P2MQRouter64.exe, which records its
// start in <root>\bin\started.
struct ProbeInstallation {
    explicit ProbeInstallation(const char* probeRouter) {
        fs::create_directories(Folder.Root / "bin");
        Router = Folder.Root / "bin" / "P2MQRouter64.exe";
        fs::copy_file(BuiltPath(probeRouter), Router);
        Record = Folder.Root / "bin" / "started";
    }
    TempFolder Folder;
    fs::path Router;
    fs::path Record;
};

} // namespace vorlen::wintest
