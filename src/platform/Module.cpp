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

} // namespace vorlen::platform
