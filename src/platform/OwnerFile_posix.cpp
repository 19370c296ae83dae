#include "platform/OwnerFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorlen {

namespace {

bool WriteFd(const std::filesystem::path& file, const std::string& bytes, int flags) {
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    const int fd = ::open(file.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
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
    ok = ::close(fd) == 0 && ok;
    return ok;
}

} // namespace

bool AppendOwnerOnly(const std::filesystem::path& file, const std::string& bytes) {
    return WriteFd(file, bytes, O_APPEND);
}

bool WriteOwnerOnly(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::path temp = file;
    temp += ".tmp";
    if (!WriteFd(temp, bytes, O_TRUNC)) {
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    return !ec;
}

} // namespace vorlen
