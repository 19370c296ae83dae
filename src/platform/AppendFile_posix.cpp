#include "platform/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vorlen::platform {

TAppendFile::~TAppendFile() {
    Close();
}

TFileFault TAppendFile::Fail(std::uint32_t code) {
    FFaultText = std::generic_category().message(static_cast<int>(code));
    switch (code) {
    case ENOSPC:
    case EDQUOT:
        return TFileFault::NoSpace;
    case EFBIG:
        return TFileFault::TooLarge;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case ELOOP:
        return TFileFault::NoAccess;
    case ENOENT:
        return TFileFault::Gone;
    default:
        return TFileFault::Other;
    }
}

TFileFault TAppendFile::Open(const std::filesystem::path& file) {
    Close();
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Fail(static_cast<std::uint32_t>(errno));
    }
    struct stat st {};
    if (::fchmod(fd, 0600) != 0 || ::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return Fail(static_cast<std::uint32_t>(code));
    }
    FFd = fd;
    FPath = file;
    FSize = static_cast<std::uint64_t>(st.st_size);
    FDevice = static_cast<std::uint64_t>(st.st_dev);
    FInode = static_cast<std::uint64_t>(st.st_ino);
    return TFileFault::None;
}

bool TAppendFile::IsOpen() const {
    return FFd >= 0;
}

TFileFault TAppendFile::Write(std::string_view bytes) {
    if (FFd < 0) {
        return Fail(EBADF);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write cut short by a full disk returns what fitted and reports why only on the
            // next call; n == 0 would loop for ever.
            return Fail(static_cast<std::uint32_t>(n < 0 ? errno : EIO));
        }
        done += static_cast<std::size_t>(n);
        FSize += static_cast<std::uint64_t>(n);
    }
    return TFileFault::None;
}

TFileFault TAppendFile::Sync() {
    if (FFd < 0) {
        return Fail(EBADF);
    }
    if (::fsync(FFd) != 0) {
        return Fail(static_cast<std::uint32_t>(errno));
    }
    struct stat st {};
    if (::stat(FPath.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != FDevice ||
        static_cast<std::uint64_t>(st.st_ino) != FInode) {
        return Fail(ENOENT);
    }
    return TFileFault::None;
}

void TAppendFile::Close() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
}

} // namespace vorlen::platform
