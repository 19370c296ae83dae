#pragma once

// The few socket calls the control channel's client needs, one implementation per system
// (Loopback_posix.cpp, Loopback_win.cpp); the line protocol over them lives in Loopback.cpp.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vorlen::platform::loopback {

inline constexpr std::intptr_t kNone = -1;

// What a single non-blocking call did.
enum class TIo { Done, Again, Failed };

// A non-blocking TCP socket connected (or connecting) to 127.0.0.1:`port`; kNone on failure.
// `connecting` is set when the connection completes later (wait for writing, then Connected).
std::intptr_t Open(std::uint16_t port, bool& connecting);
bool Connected(std::intptr_t s);
void Close(std::intptr_t s);
// Sends or receives what the socket takes or has now; `moved` is the byte count on Done (0 on a
// receive means the peer closed).
TIo Send(std::intptr_t s, const char* data, std::size_t size, std::size_t& moved);
TIo Receive(std::intptr_t s, char* data, std::size_t size, std::size_t& moved);
// 1 when the socket is ready for reading (or writing), 0 when `wait` passed, -1 on an error.
int Poll(std::intptr_t s, bool forWrite, std::chrono::milliseconds wait);

} // namespace vorlen::platform::loopback
