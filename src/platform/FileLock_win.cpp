#include "platform/FileLock.h"
#include "platform/WinApi.h"

namespace vorlen::platform {

TFileLock::TFileLock(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    // No sharing at all: a second open of the file fails while this one is open, which is the
    // lock; the system closes the handle when the process ends.
    const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        FBusy = ::GetLastError() == ERROR_SHARING_VIOLATION;
        return;
    }
    FHandle = reinterpret_cast<long long>(h);
    FHeld = true;
}

TFileLock::~TFileLock() {
    if (FHandle != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(FHandle));
    }
}

} // namespace vorlen::platform
