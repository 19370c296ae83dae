#include "main/ReplayControl.h"

#include "settings/ConnectorSettings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vorlen {

namespace {

constexpr std::string_view kReplyPrefix = "OK replay ";

bool Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size())
        return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(at),
                       text.begin() + static_cast<std::ptrdiff_t>(at + count),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

int Number(std::string_view text, std::size_t at, std::size_t count) {
    int n = 0;
    for (std::size_t i = at; i < at + count; ++i)
        n = n * 10 + (text[i] - '0');
    return n;
}

std::string Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// `key` of a "key=value" file; within [`section`] when a section is named.
std::optional<std::string> IniValue(const std::filesystem::path& file, std::string_view section,
                                    std::string_view key) {
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    bool inside = section.empty();
    std::string line;
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t.front() == '[') {
            const std::size_t end = t.find(']');
            inside = end != std::string::npos &&
                     Lower(Trim(std::string_view(t).substr(1, end - 1))) == section;
            continue;
        }
        const std::size_t eq = t.find('=');
        if (inside && eq != std::string::npos &&
            Lower(Trim(std::string_view(t).substr(0, eq))) == key)
            return Trim(std::string_view(t).substr(eq + 1));
    }
    return std::nullopt;
}

int PortNumber(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > 5 || !Digits(*text, 0, text->size()))
        return 0;
    const int port = std::stoi(*text);
    return port > 0 && port < 65536 ? port : 0;
}

bool Loopback(const std::string& host) {
    const std::string h = Lower(Trim(host));
    return h.empty() || h == "127.0.0.1" || h == "localhost";
}

} // namespace

int ClockSeconds(std::string_view text) {
    if (text.size() != 8 && text.size() != 12)
        return -1;
    if (!Digits(text, 0, 2) || text[2] != ':' || !Digits(text, 3, 2) || text[5] != ':' ||
        !Digits(text, 6, 2))
        return -1;
    if (text.size() == 12 && (text[8] != '.' || !Digits(text, 9, 3)))
        return -1;
    const int h = Number(text, 0, 2);
    const int m = Number(text, 3, 2);
    const int s = Number(text, 6, 2);
    if (h > 23 || m > 59 || s > 59)
        return -1;
    return h * 3600 + m * 60 + s;
}

std::string ClockText(int seconds) {
    seconds = std::clamp(seconds, 0, 24 * 3600 - 1);
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text.data();
}

int TReplayState::TimeSeconds() const {
    return ClockSeconds(Time);
}

int TReplayState::FromSeconds() const {
    return ClockSeconds(From);
}

int TReplayState::ToSeconds() const {
    return ClockSeconds(To);
}

TReplayState ParseReplayState(std::string_view reply) {
    TReplayState state;
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n' || reply.back() == ' '))
        reply.remove_suffix(1);
    if (reply.substr(0, kReplyPrefix.size()) != kReplyPrefix)
        return state;
    std::string_view rest = reply.substr(kReplyPrefix.size());
    if (rest == "off")
        return state;
    state.Replaying = true;
    while (!rest.empty()) {
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        const std::size_t eq = rest.find('=');
        if (eq == std::string_view::npos)
            break;
        const std::string_view key = rest.substr(0, eq);
        rest.remove_prefix(eq + 1);
        // The file's path may hold blanks: it runs to the end of the line.
        const std::size_t end = key == "file" ? rest.size() : std::min(rest.find(' '), rest.size());
        const std::string value(rest.substr(0, end));
        rest.remove_prefix(end);
        if (key == "date")
            state.Date = value;
        else if (key == "time")
            state.Time = value;
        else if (key == "from")
            state.From = value;
        else if (key == "to")
            state.To = value;
        else if (key == "speed")
            state.Speed = value;
        else if (key == "state")
            state.State = value;
        else if (key == "fill")
            state.Fill = value;
        else if (key == "file")
            state.File = value;
    }
    return state;
}

std::string ReplaySpeedCommand(std::string_view speed) {
    for (std::string_view s : kReplaySpeeds)
        if (s == speed)
            return "replay speed " + std::string(speed);
    return {};
}

std::string ReplaySeekCommand(int seconds) {
    return "replay seek " + ClockText(seconds);
}

std::filesystem::path RouterIniFile(const std::string& routPath, const std::string& iniName,
                                    char separator) {
    // The rule the router's command line follows (RouterIniArgument), without the quoting.
    std::string dir = routPath;
    if (const std::size_t last = dir.find_last_of(separator); last != std::string::npos)
        dir.erase(last + 1);
    else
        dir.clear();
    const std::string bin = std::string("bin") + separator;
    const std::size_t at = dir.find(bin);
    if (at == std::string::npos)
        return std::filesystem::path(dir) / "client_router.ini";
    dir.erase(at, bin.size());
    return std::filesystem::path(dir + iniName);
}

int RouterControlPort(const std::filesystem::path& ini) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(ini, error))
        return 0;
    const std::optional<std::string> portsFile = IniValue(ini, "router", "ports_file");
    const std::filesystem::path ports =
        ini.parent_path() / (portsFile && !portsFile->empty() ? *portsFile : "router.ports");
    if (const int written = PortNumber(IniValue(ports, {}, "control_port")); written != 0)
        return written;
    return PortNumber(IniValue(ini, "router", "control_port"));
}

int RouterControlPort(const TConnectorSettings& settings, char separator) {
    if (!Loopback(settings.Host))
        return 0;
    return RouterControlPort(RouterIniFile(settings.RoutPath, settings.RoutIniName, separator));
}

TReplayControl::TReplayControl(TPortSource port, TStateHandler onState, TFailureHandler onFailure,
                               std::chrono::milliseconds period)
    : FPort(std::move(port)), FOnState(std::move(onState)), FOnFailure(std::move(onFailure)),
      FPeriod(period) {}

TReplayControl::~TReplayControl() {
    Stop();
}

void TReplayControl::Start() {
    if (FThread.joinable())
        return;
    FStop = false;
    FThread = std::thread([this] { Run(); });
}

void TReplayControl::Stop() {
    {
        const std::lock_guard lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
    FLine.Close();
}

void TReplayControl::Send(std::string command) {
    {
        const std::lock_guard lock(FLock);
        FCommands.push_back(std::move(command));
    }
    FWake.notify_all();
}

TReplayState TReplayControl::State() const {
    const std::lock_guard lock(FLock);
    return FState;
}

std::optional<std::string> TReplayControl::Ask(const std::string& line) {
    if (!FLine.IsOpen()) {
        const int port = FPort ? FPort() : 0;
        if (port <= 0 || !FLine.Connect(static_cast<std::uint16_t>(port), kReplyLimit))
            return std::nullopt;
    }
    return FLine.Ask(line, kReplyLimit, FStop);
}

void TReplayControl::Run() {
    std::unique_lock lock(FLock);
    while (!FStop) {
        std::deque<std::string> commands;
        commands.swap(FCommands);
        lock.unlock();
        for (const std::string& command : commands) {
            const std::optional<std::string> reply = Ask(command);
            if (FStop)
                return;
            if ((!reply || reply->rfind("OK", 0) != 0) && FOnFailure)
                FOnFailure(command, reply.value_or(std::string()));
        }
        const std::optional<std::string> reply = Ask("replay state");
        if (FStop)
            return;
        const TReplayState state = reply ? ParseReplayState(*reply) : TReplayState{};
        lock.lock();
        const bool changed = !FReported || !(state == FState);
        FState = state;
        lock.unlock();
        if (changed && FOnState)
            FOnState(state);
        FReported = true;
        lock.lock();
        FWake.wait_for(lock, FPeriod, [this] { return FStop || !FCommands.empty(); });
    }
}

} // namespace vorlen
