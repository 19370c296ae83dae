#include "platform/OwnerFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlen::platform {

namespace {

// `sync`: the whole content is replaced and must be on disk when we say so; a log line appended
// is left to the system's own flushing.
bool WriteFd(const std::filesystem::path& file, std::string_view bytes, int flags, bool sync) {
    const int fd = ::open(file.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    // A file left over from an earlier run may carry wider permissions.
    bool ok = ::fchmod(fd, 0600) == 0;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            done += static_cast<std::size_t>(n);
        }
    }
    if (sync) {
        ok = ::fsync(fd) == 0 && ok;
    }
    ok = ::close(fd) == 0 && ok;
    return ok;
}

} // namespace

bool WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
    return WriteFd(file, bytes, O_TRUNC, true);
}

bool AppendOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    return WriteFd(file, bytes, O_APPEND, false);
}

} // namespace vorlen::platform
