#include "platform/Mutex.h"

#include "platform/Compiler.h"

namespace vorlen {

void TMutex::HandOver(std::chrono::microseconds most) const {
    const auto until = std::chrono::steady_clock::now() + most;
    for (unsigned i = 1; Contended(); ++i) {
        platform::CpuRelax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until)
            return;
    }
}

} // namespace vorlen
