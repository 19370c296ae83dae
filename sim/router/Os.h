#pragma once

#include <atomic>

namespace vsim {

// SIGTERM and SIGINT (console close and Ctrl+C on Windows) set the flag; the loop then ends
// and the router exits cleanly.
void InstallStopHandler(std::atomic<bool>* stop);

} // namespace vsim
