#include "platform/Module.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>
#include <vector>

namespace vorlen::platform {

namespace {

// dlerror's text is gone at the next loader call, so the failure is kept per thread right away.
thread_local std::string LastError;

void KeepDlError(const char* fallback) {
    // glibc keeps dlerror's state per thread.
    const char* text = dlerror(); // NOLINT(concurrency-mt-unsafe)
    LastError = text != nullptr ? text : fallback;
}

} // namespace

ModuleHandle LoadModule(const std::string& fileName) {
    // dlopen(nullptr) hands back the program itself, and a name with a NUL inside would load a
    // different file than the one asked for: both must fail rather than look like success.
    if (fileName.empty() || fileName.find('\0') != std::string::npos) {
        LastError = "invalid module file name";
        return 0;
    }
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        KeepDlError("cannot load module");
        return 0;
    }
    return reinterpret_cast<ModuleHandle>(handle);
}

void* ModuleSymbol(ModuleHandle module, const char* name) {
    // A null handle is RTLD_DEFAULT to dlsym, which would search the whole process.
    if (module == 0 || name == nullptr) {
        LastError = "no module or no symbol name";
        return nullptr;
    }
    dlerror(); // NOLINT(concurrency-mt-unsafe): per thread in glibc
    // The handle is an integer on every platform; this one came from dlopen's pointer.
    void* symbol =
        dlsym(reinterpret_cast<void*>(module), name); // NOLINT(performance-no-int-to-ptr)
    if (symbol == nullptr)
        KeepDlError("symbol not found");
    return symbol;
}

void FreeModule(ModuleHandle module) {
    if (module != 0)
        dlclose(reinterpret_cast<void*>(module)); // NOLINT(performance-no-int-to-ptr)
}

std::string LastLoaderError() {
    return LastError;
}

bool SetCurrentDir(const std::string& dir) {
    if (dir.empty() || dir.find('\0') != std::string::npos)
        return false;
    return chdir(dir.c_str()) == 0;
}

std::string CurrentDir() {
    std::vector<char> buffer(256);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr)
            return std::string(buffer.data());
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableDir() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        // readlink truncates silently; a full buffer may be a cut-off path.
        if (static_cast<std::size_t>(length) < buffer.size())
            return DirectoryOf(std::string(buffer.data(), static_cast<std::size_t>(length)), '/');
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace vorlen::platform
