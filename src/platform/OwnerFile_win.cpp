#include "platform/OwnerFile.h"

#include <fstream>

namespace vorlen::platform {

namespace {

bool WriteStream(const std::filesystem::path& file, std::string_view bytes,
                 std::ios::openmode mode) {
    std::ofstream out(file, std::ios::binary | mode);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace

bool WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
    return WriteStream(file, bytes, std::ios::trunc);
}

bool AppendOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    return WriteStream(file, bytes, std::ios::app);
}

} // namespace vorlen::platform
