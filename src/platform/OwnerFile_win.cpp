#include "platform/OwnerFile.h"

#include <fstream>

namespace vorlen::platform {

bool WriteOwnerOnlyFile(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

} // namespace vorlen::platform
