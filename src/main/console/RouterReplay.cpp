#include "main/console/RouterReplay.h"

#include "settings/SavedSettings.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vorlen {

namespace {

using namespace std::chrono_literals;

std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    const auto last = s.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

// The value of `key` in `section` of an ini text; empty when absent.
std::string IniValue(const std::string& text, const std::string& section, const std::string& key) {
    std::istringstream in(text);
    std::string line, current;
    while (std::getline(in, line)) {
        line = Trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = Trimmed(line.substr(1, line.size() - 2));
            continue;
        }
        const auto eq = line.find('=');
        if (current == section && eq != std::string::npos && Trimmed(line.substr(0, eq)) == key)
            return Trimmed(line.substr(eq + 1));
    }
    return {};
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::optional<std::uint16_t> PortOf(const std::string& text) {
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || v > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(v);
}

} // namespace

std::optional<std::uint16_t> RouterControlPort(const std::string& iniPath) {
    const std::filesystem::path ini = PathFromUtf8(iniPath);
    const std::string text = ReadAll(ini);
    const auto named = PortOf(IniValue(text, "router", "control_port"));
    if (named && *named != 0)
        return named;
    std::string portsFile = IniValue(text, "router", "ports_file");
    if (portsFile.empty())
        portsFile = "router.ports";
    const std::string ports = ReadAll(ini.parent_path() / PathFromUtf8(portsFile));
    std::istringstream in(ports);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("control_port=", 0) == 0)
            return PortOf(Trimmed(line.substr(13)));
    return std::nullopt;
}

#ifndef _WIN32

std::string RouterCommand(std::uint16_t port, const std::string& command,
                          std::chrono::milliseconds limit) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets API's own cast.
    if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string line = command + "\n";
        if (::send(s, line.data(), line.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(line.size())) {
            const auto until = std::chrono::steady_clock::now() + limit;
            std::string in;
            while (in.find('\n') == std::string::npos) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    until - std::chrono::steady_clock::now());
                pollfd p{s, POLLIN, 0};
                if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                    break;
                char buf[4096];
                const ssize_t n = ::recv(s, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                in.append(buf, static_cast<std::size_t>(n));
            }
            if (const auto eol = in.find('\n'); eol != std::string::npos)
                reply = Trimmed(in.substr(0, eol));
        }
    }
    ::close(s);
    return reply;
}

#else

std::string RouterCommand(std::uint16_t /*port*/, const std::string& /*command*/,
                          std::chrono::milliseconds /*limit*/) {
    // The Windows build has no recordings to replay.
    return {};
}

#endif

int StartRouterReplay(const TConsoleOptions& options, const std::string& iniPath,
                      std::optional<std::uint16_t>& port, std::ostream& err) {
    // The router has just been started: it answers once it listens.
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
        port = RouterControlPort(iniPath);
        if (port && RouterCommand(*port, "ping", 2s) == "OK pong")
            break;
        port.reset();
        std::this_thread::sleep_for(100ms);
    }
    if (!port) {
        err << "vorlen-console: --replay: the router's control channel (" << iniPath
            << ") did not answer\n"
            << std::flush;
        return kExitErrorBox;
    }
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(PathFromUtf8(options.Replay), ec);
    for (const std::string& command :
         {"replay speed " + (options.Speed.empty() ? std::string("max") : options.Speed),
          "replay open " + PathToUtf8(ec ? PathFromUtf8(options.Replay) : file)}) {
        const std::string reply = RouterCommand(*port, command, 600s);
        if (reply.rfind("OK", 0) != 0) {
            err << "vorlen-console: --replay: " << command << ": "
                << (reply.empty() ? "the router did not answer" : reply) << '\n'
                << std::flush;
            return kExitErrorBox;
        }
    }
    return 0;
}

bool TReplayEndWatch::Ended(std::uint64_t received) {
    const auto now = std::chrono::steady_clock::now();
    const std::string state = RouterCommand(FPort, "replay state", 5s);
    const bool end = state.find(" state=end ") != std::string::npos;
    if (!end || received != FLast || !FQuietSince) {
        FLast = received;
        FQuietSince = end ? std::optional(now) : std::nullopt;
        return false;
    }
    return now - *FQuietSince >= 500ms;
}

} // namespace vorlen
