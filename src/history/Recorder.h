#pragma once

// The market's memory: every message the connections receive, appended with its receive time to
// the recording of the trading day (history/<date>.vrec in the user's data folder).
//
// The connections' threads hand each message over with one copy of its bytes into a bounded
// buffer and return; they never wait for the disk, and they share no lock with the store's
// readers. A thread of the recorder's own takes the filled chunks of a ring (under a lock held
// only to take them), compresses frames and writes and syncs them. When the ring is
// full the message is dropped and counted per stream; the recording then holds a gap record
// saying how many were lost, and the journal says so once. A fault of the disk or the folder
// stops recording with one journal line; nothing else stops.

#include "gateway/GatewayCInterface.h"
#include "history/DayWriter.h"
#include "history/HistoryDb.h"
#include "history/RecordFormat.h"
#include "platform/Events.h"
#include "platform/Thread.h"
#include "platform/TickClock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen::history {

struct TRecorderOptions {
    std::filesystem::path Folder;
    // The producers' room while the recorder's thread works through as much again (the ring
    // holds twice this); about a second of a busy market with room to spare.
    std::size_t BufferBytes = 16u << 20;
    std::size_t FrameBytes = 1u << 20;
    std::int64_t FrameNs = 1'000'000'000;
    std::chrono::milliseconds SyncEvery{1000};
    TRetention Keep;
    // Market data compresses well even at the fastest level, and the terminal's cores are
    // better spent elsewhere.
    int Level = 1;
    // The receive time of a message in nanoseconds; the system's wall clock (through a
    // platform::TTickClock) when empty. Times never go
    // back within a recording: an earlier reading is raised to the last one.
    std::function<std::int64_t()> Clock;
    // The deals also go into history.db beside the day files, committed with each sync or every
    // this many rows.
    bool Deals = true;
    std::size_t DealBatch = 4096;
};

class TRecorder {
public:
    // Journal lines are handed to `journal` on the recorder's thread.
    using TJournal = std::function<void(const std::string&)>;
    TRecorder(TRecorderOptions options, TJournal journal);
    ~TRecorder(); // stops
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Starts recording into the day file of the exchange's trading date ("YYYY-MM-DD").
    void Start(const std::string& tradingDate);
    // Messages handed over after this call go to the new date's file.
    void SwitchDay(const std::string& tradingDate);
    // Writes what is buffered, syncs and closes. Handing messages over after it does nothing.
    void Stop();
    // False once a fault stopped recording, or before Start and after Stop.
    bool Recording() const { return FRecording.load(std::memory_order_relaxed); }
    // Messages dropped because the buffer was full.
    std::uint64_t Lost() const { return FLost.load(std::memory_order_relaxed); }

    // The messages, each from the thread that received it. `stream` numbers the market-data
    // listeners in their order; the transaction connection takes a number of its own.
    void StreamOpen(std::uint16_t stream, std::string_view name, const cg_scheme_desc_t& scheme);
    void StreamData(std::uint16_t stream, const cg_msg_streamdata_t& msg);
    void ReplState(std::uint16_t stream, const void* data, std::size_t size);
    void LifeNum(std::uint16_t stream, const void* data, std::size_t size);
    void ClearDeleted(std::uint16_t stream, const void* data, std::size_t size);
    void Online(std::uint16_t stream);
    void Offline(std::uint16_t stream);
    void TransReply(std::uint16_t stream, const cg_msg_data_t& msg);

private:
    // The buffer is a ring of chunks. Producers fill the head chunk and move on to the next free
    // one; the recorder's thread takes the full chunks, and the head's part on its rounds. A chunk
    // is written again only after the whole ring has gone round, by when the recorder's reading
    // of it has long left that core's cache: a chunk handed straight back would make every copy
    // into it fetch its cache lines from the other core.
    struct TChunk {
        std::unique_ptr<char[]> Data;
        std::size_t Capacity = 0;
        std::size_t Used = 0;
        std::size_t Control = 0; // bytes of day switches, which the room for messages leaves out
    };
    class TWorker final : public TThread {
    public:
        explicit TWorker(TRecorder& owner) : FOwner(owner) {}
        ~TWorker() override {
            Terminate();
            WaitFor();
        }

    protected:
        void Execute() override { FOwner.Run(); }

    private:
        TRecorder& FOwner;
    };

    bool Put(TRecordKind kind, std::uint16_t stream, std::uint32_t table, std::string_view a,
             std::string_view b = {}, std::string_view c = {});
    void PutDay(const std::string& date);
    // Under FLock: the head chunk with room for `size` more bytes of messages, moving on to the
    // next free chunk when the head has none; null when the ring is full.
    TChunk* Room(std::size_t size, bool& wake);
    std::int64_t Now() const;

    // The recorder's thread.
    void Run();
    void Drain();
    void DrainChunk(std::string_view taken);
    void Add(std::string_view record, std::int64_t timeNs);
    void AddGap(const std::vector<TGapEntry>& lost, std::int64_t timeNs);
    void FlushFrame();
    void OpenDay(const std::string& date);
    void Fault(const std::string& why);
    void DealsFault();

    TRecorderOptions FOptions;
    TJournal FJournal;
    std::atomic<bool> FRecording{false};
    std::atomic<std::uint64_t> FLost{0};

    platform::TTickClock FClock;

    // The producers' side, under FLock.
    std::mutex FLock;
    std::vector<TChunk> FChunks;
    std::size_t FChunkBytes = 0; // room for messages in each chunk
    std::size_t FHead = 0;       // the chunk being filled
    std::size_t FTail = 0;       // the oldest chunk not free: full, or being read
    std::size_t FBusy = 0;       // chunks from FTail up to FHead
    std::int64_t FLastNs = 0;
    std::vector<TGapEntry> FDropped;
    std::int64_t FDroppedNs = 0;

    // The recorder thread's side.
    TEventSet FWake{1};
    TDayWriter FWriter;
    THistoryDb FDeals;
    bool FDealsTried = false;
    bool FFaulted = false;
    bool FLossTold = false;
    std::string FFrame;
    std::uint32_t FFrameRecords = 0;
    std::int64_t FFrameFirst = 0;
    std::int64_t FFrameLast = 0;
    std::int64_t FTimeFloor = std::numeric_limits<std::int64_t>::min();
    std::unique_ptr<TWorker> FWorker;
};

} // namespace vorlen::history
