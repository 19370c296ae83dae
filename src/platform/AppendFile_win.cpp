#include "platform/AppendFile.h"
#include "platform/WinApi.h"
#include "platform/WinText.h"

namespace vorlen::platform {

TAppendFile::~TAppendFile() {
    Close();
}

TFileFault TAppendFile::Fail(std::uint32_t code) {
    FFaultText = SystemErrorText(code);
    switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return TFileFault::NoSpace;
    case ERROR_FILE_TOO_LARGE:
        return TFileFault::TooLarge;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PATH_NOT_FOUND:
        return TFileFault::NoAccess;
    case ERROR_FILE_NOT_FOUND:
        return TFileFault::Gone;
    default:
        return TFileFault::Other;
    }
}

TFileFault TAppendFile::Open(const std::filesystem::path& file) {
    Close();
    // No FILE_SHARE_DELETE: while we record, the file cannot be deleted or renamed under us.
    // The user's profile is private, so the inherited permissions are the owner's.
    // FlushFileBuffers wants GENERIC_WRITE, not only FILE_APPEND_DATA; being the one writer, we
    // append by starting at the end.
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return Fail(GetLastError());
    }
    LARGE_INTEGER size{};
    const LARGE_INTEGER zero{};
    if (!GetFileSizeEx(h, &size) || !SetFilePointerEx(h, zero, nullptr, FILE_END)) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        return Fail(code);
    }
    FHandle = h;
    FPath = file;
    FSize = static_cast<std::uint64_t>(size.QuadPart);
    return TFileFault::None;
}

bool TAppendFile::IsOpen() const {
    return FHandle != nullptr;
}

TFileFault TAppendFile::Write(std::string_view bytes) {
    if (FHandle == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(FHandle), bytes.data() + done, chunk, &written,
                       nullptr)) {
            return Fail(GetLastError());
        }
        if (written == 0) {
            return Fail(ERROR_WRITE_FAULT);
        }
        done += written;
        FSize += written;
    }
    return TFileFault::None;
}

TFileFault TAppendFile::Sync() {
    if (FHandle == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!FlushFileBuffers(static_cast<HANDLE>(FHandle))) {
        return Fail(GetLastError());
    }
    if (GetFileAttributesW(FPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    return TFileFault::None;
}

void TAppendFile::Close() {
    if (FHandle != nullptr) {
        CloseHandle(static_cast<HANDLE>(FHandle));
        FHandle = nullptr;
    }
}

} // namespace vorlen::platform
