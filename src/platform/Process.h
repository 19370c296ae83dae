#pragma once

#include <cstdint>

namespace vorlen {

// The process record of a started router. On Windows it is PROCESS_INFORMATION itself; elsewhere
// the platform layer fills the same four members, the handles being its own opaque values.
#ifdef _WIN32
} // namespace vorlen
#include <windows.h>
namespace vorlen {
using TProcInfo = PROCESS_INFORMATION;
#else
struct TProcInfo {
    std::uintptr_t hProcess = 0;
    std::uintptr_t hThread = 0;
    std::uint32_t dwProcessId = 0;
    std::uint32_t dwThreadId = 0;
};
#endif

} // namespace vorlen
