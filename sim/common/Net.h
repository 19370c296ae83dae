#pragma once

// The few socket calls both sides need, over BSD sockets or Winsock.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vsim::net {

#ifdef _WIN32
using Socket = std::uintptr_t;
#else
using Socket = int;
#endif
extern const Socket kInvalid;

// Winsock needs starting once per process; elsewhere a no-op. Also ignores SIGPIPE.
bool Init();

Socket Listen(const std::string& host, std::uint16_t port, std::uint16_t* bound);
Socket Accept(Socket listener);
// Starts a non-blocking connect; the socket is writable once connected.
Socket ConnectStart(const std::string& host, std::uint16_t port);
// 1 connected, 0 still connecting, -1 failed.
int ConnectCheck(Socket s);
void Close(Socket s);
void Tune(Socket s); // non-blocking, no Nagle, large buffers

// Bytes moved, 0 when the call would block, -1 on error or (Recv) an orderly close.
long Send(Socket s, const char* p, std::size_t n);
long Recv(Socket s, char* p, std::size_t n);

struct PollItem {
    Socket s;
    bool wantRead = false;
    bool wantWrite = false;
    bool readable = false;
    bool writable = false;
    bool failed = false;
};
// Waits up to timeoutMs for any item; returns the number ready, or -1.
int Poll(std::vector<PollItem>& items, int timeoutMs);
// One socket: true when readable (or closed) within timeoutMs.
bool WaitReadable(Socket s, int timeoutMs);
bool WaitWritable(Socket s, int timeoutMs);

} // namespace vsim::net
