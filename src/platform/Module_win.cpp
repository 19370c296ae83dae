#include "platform/Module.h"
#include "platform/WinApi.h"
#include "platform/WinText.h"

#include <vector>

namespace vorlen::platform {

namespace {

// GetLastError is overwritten by the next system call, so the text is kept per thread at once.
thread_local std::string LastError;

void KeepLastError() {
    LastError = SystemErrorText(GetLastError());
}

} // namespace

ModuleHandle LoadModule(const std::string& fileName) {
    if (fileName.empty() || fileName.find('\0') != std::string::npos) {
        LastError = "invalid module file name";
        return 0;
    }
    const std::wstring wide = WideFromUtf8(fileName);
    if (wide.empty()) {
        LastError = "invalid module file name";
        return 0;
    }
    HMODULE module = LoadLibraryW(wide.c_str());
    if (module == nullptr) {
        KeepLastError();
        return 0;
    }
    return reinterpret_cast<ModuleHandle>(module);
}

void* ModuleSymbol(ModuleHandle module, const char* name) {
    if (module == 0 || name == nullptr) {
        LastError = "no module or no symbol name";
        return nullptr;
    }
    FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(module), name);
    if (symbol == nullptr) {
        KeepLastError();
        return nullptr;
    }
    // Callers cast back to the entry point's own function type.
    return reinterpret_cast<void*>(symbol);
}

void FreeModule(ModuleHandle module) {
    if (module != 0)
        FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::string LastLoaderError() {
    return LastError;
}

bool SetCurrentDir(const std::string& dir) {
    if (dir.empty() || dir.find('\0') != std::string::npos)
        return false;
    const std::wstring wide = WideFromUtf8(dir);
    return !wide.empty() && SetCurrentDirectoryW(wide.c_str()) != 0;
}

std::string CurrentDir() {
    // Another thread may change the directory between asking for the size and reading it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = GetCurrentDirectoryW(0, nullptr);
        if (needed == 0)
            return {};
        std::vector<wchar_t> buffer(needed);
        const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
        if (length == 0)
            return {};
        if (length < needed)
            return Utf8FromWide(std::wstring_view(buffer.data(), length));
    }
    return {};
}

std::string ExecutableDir() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        // A full buffer means the path was cut off.
        if (length < buffer.size())
            return DirectoryOf(Utf8FromWide(std::wstring_view(buffer.data(), length)), '\\');
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace vorlen::platform
