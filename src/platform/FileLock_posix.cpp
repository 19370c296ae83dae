#include "platform/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vorlen::platform {

TFileLock::TFileLock(const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return;
    }
    FHandle = fd;
    // flock, not fcntl locks: those belong to the process, so a second desk of the same process
    // would be let in, and closing any descriptor of the file would drop them.
    FHeld = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    FBusy = !FHeld && errno == EWOULDBLOCK;
}

TFileLock::~TFileLock() {
    if (FHandle >= 0) {
        ::close(static_cast<int>(FHandle));
    }
}

} // namespace vorlen::platform
