#include "platform/OwnerFile.h"

#include <fstream>

namespace vorlen {

// A file created in the user's profile already carries an ACL of that user alone; no narrowing
// is done here.
namespace {

bool WriteStream(const std::filesystem::path& file, const std::string& bytes,
                 std::ios::openmode mode) {
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    std::ofstream out(file, std::ios::binary | mode);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace

bool AppendOwnerOnly(const std::filesystem::path& file, const std::string& bytes) {
    return WriteStream(file, bytes, std::ios::app);
}

bool WriteOwnerOnly(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::path temp = file;
    temp += ".tmp";
    if (!WriteStream(temp, bytes, std::ios::trunc)) {
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    return !ec;
}

} // namespace vorlen
