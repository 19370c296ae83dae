#pragma once

// A recorded trading day played back to the router's subscribers instead of the simulated
// market: the recorded streams' messages go out as the frames the gateway library already knows,
// paced by the recording's own receive times and a speed. The router keeps the replica the
// recording describes (rows per stream and table, life number, on-line), so that a subscriber
// that comes late, a seek or a new file hands the terminal the state as a new life number would.

#include "Market.h"
#include "ReplayTable.h"
#include "ReplayTrader.h"
#include "history/Reader.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace vsim {

// How one recorded table reaches the catalogue's table of the same name.
struct ReplayTableMap {
    int table = -1;    // the catalogue table, -1: not served
    bool same = false; // the recorded layout is the catalogue's: rows go out unchanged
    std::vector<CopyStep> plan;
    std::uint32_t idAt = 0, revAt = 0, actAt = 0; // service fields in the recorded layout
    std::uint32_t size = 0;                       // the catalogue row's size
    std::uint32_t recSize = 0;                    // the recorded row's
};

// A recorded listener's stream and table layouts, as its last opening described them.
struct ReplayStreamMap {
    int stream = -1; // index into the catalogue's streams
    std::vector<ReplayTableMap> tables;
};

struct ReplayStreamState {
    std::uint32_t life = 0;
    std::int64_t rev = 0; // the latest recorded revision: the trader's own rows carry it
    bool online = false;
    std::vector<ReplayTable> tables;
};

// Everything a seek restores: the replica, the layouts, and where the reader stands.
struct ReplayState {
    std::vector<ReplayStreamState> streams;                   // by catalogue stream
    std::vector<std::shared_ptr<const ReplayStreamMap>> maps; // by recorded listener position
    std::uint64_t seq = 0;
    std::uint64_t applied = 0;    // records applied
    std::int64_t lastNs = 0;      // time of the last record applied
    std::uint64_t sameTimeAt = 0; // records applied at lastNs
    std::size_t Rows() const;
};

class Replay {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMax = 0; // speed "max"

    Replay();

    // Reads the whole file once (keyframes, the streams it holds, its first and last times)
    // and stands at its start; false with `error` when it cannot be played.
    bool Open(const std::string& path, std::string& error);
    bool IsOpen() const { return open_; }
    // Records at least between two keyframes of the next Open (never fewer than the replica's
    // rows at the time): fewer make seeks faster and cost memory.
    void SetKeyframeEvery(std::uint64_t records) { keyEvery_ = records; }

    void SetSpeed(int speed) { speed_ = speed; }
    void Pause() { paused_ = true; }
    void Play();
    // The next second of market time, then paused.
    void Step();
    // HH:MM:SS as seconds of the recording's day; false when the day has no such time.
    bool Seek(int secondsOfDay, std::string& error);
    void SetFill(std::string model);
    // The trader's order (or cancel) while replaying.
    Reply Post(std::uint32_t msgId, std::string_view msgName, const char* data, std::size_t n);
    std::string State() const;
    bool AtEnd() const { return !pending_; }

    // The terminal's subscriptions while replaying; `again` for one moved over from the
    // simulated market, which already holds its Opened and rows of another day.
    bool Subscribe(Client& c, std::uint32_t id, std::string_view stream,
                   const std::vector<std::string>& tables, bool again, std::string& reason);
    void Unsubscribe(Client& c, std::uint32_t id);
    void DropClient(Client& c);

    // Sends what is due by now; `room`: no subscriber is too far behind for more.
    void Run(Clock::time_point now, bool room);
    bool Busy() const; // more is due at once (the loop should not sleep)

    static std::string SpeedName(int speed);

private:
    struct Sub {
        Client* client = nullptr;
        std::uint32_t id = 0;
        int stream = -1;
        std::vector<int> slotOf;
    };
    // The replica after state.applied records; the reader finds its place again by the time
    // of the last of them and the number of records at that time.
    struct Keyframe {
        ReplayState state;
    };

    // Applies one record to `st`; with `publish`, sends it to the subscribers as well.
    void Apply(ReplayState& st, const vorlen::history::TRecordView& r, bool publish);
    void ApplyRow(ReplayState& st, const ReplayStreamMap& map,
                  const vorlen::history::TRecordView& r, bool publish);
    void SendRow(const Sub& sub, int table, std::int64_t rev, const std::string& data);
    // The stream as a new life number hands it over: clear, every row, on-line.
    void SendState(const Sub& sub, bool clear);
    std::shared_ptr<const ReplayStreamMap> MapScheme(std::string_view payload);
    void NextRecord();
    std::int64_t MomentOf(int secondsOfDay) const;
    void Heartbeats(Clock::time_point now);
    void PutOwnRow(int stream, int table, std::int64_t id, std::string data, bool deleted,
                   std::int64_t revGiven);
    // After a seek: the trader's rows back in the replica, recorded positions and money adjusted.
    void RestoreOwnRows();
    void NewTrader();

    const Catalogue& cat_;
    bool open_ = false;
    std::string path_;
    std::string date_;
    vorlen::history::TRecordingReader reader_;
    std::vector<char> recorded_; // per catalogue stream: the recording opens it
    ReplayState state_;
    std::vector<Keyframe> keys_;
    std::uint64_t keyEvery_;
    std::int64_t firstNs_ = 0, lastNs_ = 0;
    // The next record not yet applied; its payload stays valid until the reader moves on.
    std::optional<vorlen::history::TRecordView> pending_;
    std::string badStream_;    // why a recorded stream cannot be served
    std::int64_t clockNs_ = 0; // market time now
    Clock::time_point lastRun_{};
    int speed_ = 1;
    bool paused_ = false;
    std::int64_t stepUntil_ = -1; // a step's end while paused
    bool started_ = false;        // something has been sent since opening
    Clock::time_point lastSubscribe_{};
    Clock::time_point lastHeartbeat_{};
    std::uint32_t resets_ = 0; // life numbers handed out by seeks and new files
    std::string fill_ = "touch";
    std::vector<std::unique_ptr<Sub>> subs_;
    std::vector<int> heartbeatTable_; // per catalogue stream, or -1
    std::unique_ptr<ReplayTrader> trader_;
    using OwnKey = std::tuple<int, int, std::int64_t>; // stream, table, replication id
    std::map<OwnKey, ReplayRow> own_;
};

} // namespace vsim
