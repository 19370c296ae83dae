// The router's side of a replay that the rest of the server sees: "replay ..." commands, and
// subscriptions routed to the replay while one is open. A build without recordings (no zstd
// for the target) keeps the commands and says that it cannot replay.

#include "../common/Text.h"
#include "Server.h"

#if VORLEN_REPLAY
#include "Replay.h"
#include "fills/FillModel.h"

#include <filesystem>
#endif

namespace vsim {

#if VORLEN_REPLAY

void ReplayDeleter::operator()(Replay* r) const {
    delete r;
}

namespace {

const char* const kUsage =
    "ERR usage: replay open FILE|FOLDER YYYY-MM-DD | speed 1|2|5|10|50|100|1000|max | pause | "
    "play | step | seek HH:MM:SS | fill touch|through|queue | state";

bool IsDate(std::string_view s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') {
        return false;
    }
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i != 4 && i != 7 && (s[i] < '0' || s[i] > '9')) {
            return false;
        }
    }
    return true;
}

// "HH:MM:SS" as seconds since midnight, or -1.
int TimeOfDay(std::string_view s) {
    if (s.size() != 8 || s[2] != ':' || s[5] != ':') {
        return -1;
    }
    int part[3] = {};
    for (int i = 0; i < 3; ++i) {
        const char a = s[static_cast<std::size_t>(i) * 3];
        const char b = s[static_cast<std::size_t>(i) * 3 + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9') {
            return -1;
        }
        part[i] = (a - '0') * 10 + (b - '0');
    }
    if (part[0] > 23 || part[1] > 59 || part[2] > 59) {
        return -1;
    }
    return part[0] * 3600 + part[1] * 60 + part[2];
}

int ParseSpeed(std::string_view s) {
    if (Lower(s) == "max") {
        return Replay::kMax;
    }
    for (const int v : {1, 2, 5, 10, 50, 100, 1000}) {
        if (s == std::to_string(v)) {
            return v;
        }
    }
    return -1;
}

} // namespace

bool Server::Replaying() const {
    return replay_ != nullptr && replay_->IsOpen();
}

bool Server::OpenReplay(const std::string& path, std::string& error) {
    const bool first = !Replaying();
    if (replay_ == nullptr) {
        replay_.reset(new Replay());
        const int speed = ParseSpeed(config_.replaySpeed);
        replay_->SetSpeed(speed < 0 ? 1 : speed);
        replay_->SetFill(Lower(config_.replayFill));
    }
    if (!replay_->Open(path, error)) {
        return false;
    }
    if (first) {
        // The terminal stays connected: its streams start again from the recording's start.
        for (const SubscriptionInfo& s : exchange_.market().TakeSubscriptions()) {
            std::string reason;
            if (!replay_->Subscribe(*s.client, s.id, s.stream, s.tables, true, reason)) {
                log_.Line("client %llu: %s not replayed: %s",
                          static_cast<unsigned long long>(s.client->id), s.stream.c_str(),
                          reason.c_str());
            }
        }
    }
    log_.Line("replaying %s", path.c_str());
    return true;
}

bool Server::ReplaySubscribe(Client& c, std::uint32_t id, const std::string& stream,
                             const std::vector<std::string>& tables, std::string& reason) {
    return replay_->Subscribe(c, id, stream, tables, false, reason);
}

void Server::ReplayDrop(Client& c, const std::uint32_t* id) {
    if (replay_ == nullptr) {
        return;
    }
    if (id != nullptr) {
        replay_->Unsubscribe(c, *id);
    } else {
        replay_->DropClient(c);
    }
}

Reply Server::ReplayPost(std::uint32_t msgId, const std::string& name, const char* data,
                         std::size_t n) {
    return replay_->Post(msgId, name, data, n);
}

bool Server::ReplayRun(Clock::time_point now, bool room) {
    replay_->Run(now, room);
    return replay_->Busy();
}

std::string Server::ReplayCommand(const std::vector<std::string_view>& words,
                                  std::string_view line) {
    const std::string sub = words.size() > 1 ? Lower(words[1]) : std::string();
    if (sub == "open") {
        std::string path = AfterWords(line, 2);
        std::error_code ec;
        if (words.size() >= 4 && IsDate(words.back())) {
            const std::string folder = AfterWords(line.substr(0, line.rfind(words.back())), 2);
            if (std::filesystem::is_directory(folder, ec)) {
                path = vorlen::history::DayFilePath(folder, std::string(words.back())).string();
            }
        }
        if (path.empty()) {
            return kUsage;
        }
        std::string error;
        if (!OpenReplay(path, error)) {
            return "ERR " + path + ": " + error;
        }
        return "OK";
    }
    if (sub == "fill") {
        const std::string model = words.size() == 3 ? Lower(words[2]) : std::string();
        if (!vorlen::fills::ParseFillModel(model)) {
            return "ERR usage: replay fill touch|through|queue";
        }
        config_.replayFill = model;
        if (replay_ != nullptr) {
            replay_->SetFill(model);
        }
        return "OK";
    }
    if (sub == "speed") {
        const int speed = words.size() == 3 ? ParseSpeed(words[2]) : -1;
        if (speed < 0) {
            return "ERR usage: replay speed 1|2|5|10|50|100|1000|max";
        }
        config_.replaySpeed = std::string(words[2]);
        if (replay_ != nullptr) {
            replay_->SetSpeed(speed);
        }
        return "OK";
    }
    if (sub == "state") {
        return Replaying() ? replay_->State() : "OK replay off";
    }
    if (sub != "pause" && sub != "play" && sub != "step" && sub != "seek") {
        return kUsage;
    }
    if (!Replaying()) {
        return "ERR no replay is open";
    }
    if (sub == "pause") {
        replay_->Pause();
    } else if (sub == "play") {
        replay_->Play();
    } else if (sub == "step") {
        replay_->Step();
    } else {
        const int at = words.size() == 3 ? TimeOfDay(words[2]) : -1;
        if (at < 0) {
            return "ERR usage: replay seek HH:MM:SS";
        }
        std::string error;
        if (!replay_->Seek(at, error)) {
            return "ERR " + error;
        }
    }
    return "OK";
}

#else

void ReplayDeleter::operator()(Replay* /*r*/) const {}

bool Server::Replaying() const {
    return false;
}

bool Server::OpenReplay(const std::string& /*path*/, std::string& error) {
    error = "replay is not built here";
    return false;
}

bool Server::ReplaySubscribe(Client& /*c*/, std::uint32_t /*id*/, const std::string& /*stream*/,
                             const std::vector<std::string>& /*tables*/, std::string& reason) {
    reason = "replay is not built here";
    return false;
}

void Server::ReplayDrop(Client& /*c*/, const std::uint32_t* /*id*/) {}

Reply Server::ReplayPost(std::uint32_t msgId, const std::string& name, const char* data,
                         std::size_t n) {
    return exchange_.Handle(msgId, name, data, n);
}

bool Server::ReplayRun(Clock::time_point /*now*/, bool /*room*/) {
    return false;
}

std::string Server::ReplayCommand(const std::vector<std::string_view>& words,
                                  std::string_view /*line*/) {
    if (words.size() == 2 && Lower(words[1]) == "state") {
        return "OK replay off";
    }
    return "ERR replay is not built here";
}

#endif

} // namespace vsim
