#include "platform/Module.h"

namespace vorlen::platform {

char PathSeparator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

std::string DirectoryOf(const std::string& path, char separator) {
    const std::string::size_type last = path.rfind(separator);
    if (last == std::string::npos)
        return {};
    return path.substr(0, last + 1);
}

bool IsPlainFileName(std::string_view name) {
    if (name.empty() || name.find("..") != std::string_view::npos)
        return false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '/' || c == '\\' || c == ':' || c == '"')
            return false;
    }
    return true;
}

} // namespace vorlen::platform
