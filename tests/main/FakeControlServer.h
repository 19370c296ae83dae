#pragma once

// A stand-in for the simulator router's control channel on 127.0.0.1: answers `replay state`
// with the line a test sets, "OK" to every other command, and keeps the commands it was sent.
// Silent() makes it read without answering, as a router that hangs.

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vorlen::test {

class TFakeControlServer {
public:
    TFakeControlServer() {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(FListen, 4);
        socklen_t size = sizeof addr;
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &size);
        Port = ntohs(addr.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~TFakeControlServer() { Close(); }
    TFakeControlServer(const TFakeControlServer&) = delete;
    TFakeControlServer& operator=(const TFakeControlServer&) = delete;

    // Stops listening and drops every connection: the router has gone.
    void Close() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        if (FListen >= 0)
            ::close(FListen);
        FListen = -1;
    }
    void SetState(std::string line) {
        const std::lock_guard lock(FLock);
        FState = std::move(line);
    }
    void Silent(bool silent) { FSilent = silent; }
    // The commands other than `replay state`, in the order they came.
    std::vector<std::string> Commands() const {
        const std::lock_guard lock(FLock);
        return FCommands;
    }
    int StateQuestions() const { return FQuestions; }

    int Port = 0;

private:
    void Run() {
        std::vector<int> clients;
        std::vector<std::string> pending;
        while (!FStop) {
            std::vector<pollfd> fds{{FListen, POLLIN, 0}};
            for (int c : clients)
                fds.push_back({c, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if ((fds[0].revents & POLLIN) != 0) {
                clients.push_back(::accept(FListen, nullptr, nullptr));
                pending.emplace_back();
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0)
                    continue;
                char buffer[256];
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    ::close(fds[i].fd);
                    clients[i - 1] = -1;
                    continue;
                }
                std::string& in = pending[i - 1];
                in.append(buffer, static_cast<std::size_t>(n));
                for (std::size_t end = in.find('\n'); end != std::string::npos;
                     end = in.find('\n')) {
                    const std::string line = in.substr(0, end);
                    in.erase(0, end + 1);
                    if (FSilent)
                        continue;
                    const std::string reply = Answer(line) + "\n";
                    ::send(fds[i].fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
            for (std::size_t i = clients.size(); i-- > 0;) {
                if (clients[i] < 0) {
                    clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
                    pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
        }
        for (int c : clients)
            ::close(c);
    }
    std::string Answer(const std::string& line) {
        const std::lock_guard lock(FLock);
        if (line == "replay state") {
            ++FQuestions;
            return FState;
        }
        FCommands.push_back(line);
        return "OK";
    }

    int FListen = -1;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FSilent{false};
    std::atomic<int> FQuestions{0};
    mutable std::mutex FLock;
    std::string FState = "OK replay off";
    std::vector<std::string> FCommands;
    std::thread FThread;
};

} // namespace vorlen::test
