#include "history/Recorder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace vorlen::history {

namespace {

// Day switches travel with the messages, so each message lands in the file of its day; they are
// never dropped, and this much room is kept for them beyond the buffer's size.
constexpr std::size_t kControlRoom = 4096;
constexpr auto kDayMark = static_cast<TRecordKind>(0);
constexpr std::size_t kChunkBytes = std::size_t{256} << 10;

std::uint32_t TableOf(std::size_t index) {
    return index < kNoTable ? static_cast<std::uint32_t>(index) : kNoTable;
}

std::string_view Bytes(const void* data, std::size_t size) {
    return data != nullptr ? std::string_view(static_cast<const char*>(data), size)
                           : std::string_view();
}

} // namespace

TRecorder::TRecorder(TRecorderOptions options, TJournal journal)
    : FOptions(std::move(options)), FJournal(std::move(journal)), FWriter(FOptions.Level) {
    // Zeroed here, on the thread that makes the recorder, so no page of the ring is first
    // touched by a producer.
    // Twice the buffer: the producers have a buffer's room while the recorder's thread works
    // through as much again.
    const std::size_t total = 2 * FOptions.BufferBytes;
    const std::size_t count = std::max<std::size_t>(2, total / kChunkBytes);
    FChunkBytes = std::max<std::size_t>(1, total / count);
    FChunks.resize(count);
    for (TChunk& chunk : FChunks) {
        chunk.Capacity = FChunkBytes + kControlRoom;
        chunk.Data = std::make_unique<char[]>(chunk.Capacity);
    }
}

TRecorder::~TRecorder() {
    Stop();
}

std::int64_t TRecorder::Now() const {
    if (FOptions.Clock)
        return FOptions.Clock();
    return FClock.NowNs();
}

void TRecorder::Start(const std::string& tradingDate) {
    if (FWorker)
        return;
    FFaulted = false;
    FRecording.store(true, std::memory_order_relaxed);
    PutDay(tradingDate);
    FWorker = std::make_unique<TWorker>(*this);
    FWorker->Start();
}

void TRecorder::SwitchDay(const std::string& tradingDate) {
    if (Recording())
        PutDay(tradingDate);
}

void TRecorder::Stop() {
    if (!FWorker)
        return;
    FWorker->Terminate();
    FWake.Signal(0);
    FWorker->WaitFor();
    FWorker.reset();
    FRecording.store(false, std::memory_order_relaxed);
}

void TRecorder::PutDay(const std::string& date) {
    const std::string_view d = std::string_view(date).substr(0, 64);
    std::lock_guard guard(FLock);
    TChunk& chunk = FChunks[FHead];
    const std::size_t size = kRecordHeaderSize + d.size();
    if (chunk.Used + size > chunk.Capacity)
        return;
    char* out = chunk.Data.get() + chunk.Used;
    PutRecordHeader(out, kDayMark, kNoStream, kNoTable, FLastNs,
                    static_cast<std::uint32_t>(d.size()));
    std::memcpy(out + kRecordHeaderSize, d.data(), d.size());
    chunk.Used += size;
    chunk.Control += size;
}

TRecorder::TChunk* TRecorder::Room(std::size_t size, bool& wake) {
    TChunk* chunk = &FChunks[FHead];
    if (chunk->Used - chunk->Control + size <= FChunkBytes)
        return chunk;
    if (chunk->Used == 0) {
        // A message larger than a chunk, up to the whole buffer, has one of its own.
        if (size > FOptions.BufferBytes)
            return nullptr;
        chunk->Data = std::make_unique<char[]>(size + kControlRoom);
        chunk->Capacity = size + kControlRoom;
        return chunk;
    }
    if (FBusy + 1 >= FChunks.size())
        return nullptr;
    FHead = (FHead + 1) % FChunks.size();
    ++FBusy;
    // A full chunk wakes the recorder: the part of the ring being written stays small.
    wake = true;
    return Room(size, wake);
}

bool TRecorder::Put(TRecordKind kind, std::uint16_t stream, std::uint32_t table, std::string_view a,
                    std::string_view b, std::string_view c) {
    if (!FRecording.load(std::memory_order_relaxed))
        return false;
    const std::size_t size = kRecordHeaderSize + a.size() + b.size() + c.size();
    // The clock is read before the lock, so two producers do not wait for each other's reading.
    const std::int64_t now = Now();
    bool wake = false;
    {
        std::lock_guard guard(FLock);
        TChunk* chunk = Room(size, wake);
        if (chunk == nullptr) {
            if (FDropped.empty())
                FDroppedNs = std::max(now, FLastNs);
            const auto it = std::find_if(FDropped.begin(), FDropped.end(),
                                         [&](const TGapEntry& e) { return e.Stream == stream; });
            if (it != FDropped.end())
                ++it->Lost;
            else
                FDropped.push_back({stream, 1});
            FLost.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        FLastNs = std::max(now, FLastNs);
        char* out = chunk->Data.get() + chunk->Used;
        PutRecordHeader(out, kind, stream, table, FLastNs,
                        static_cast<std::uint32_t>(size - kRecordHeaderSize));
        out += kRecordHeaderSize;
        for (const std::string_view part : {a, b, c}) {
            if (!part.empty())
                std::memcpy(out, part.data(), part.size());
            out += part.size();
        }
        chunk->Used += size;
    }
    if (wake)
        FWake.Signal(0);
    return true;
}

void TRecorder::StreamOpen(std::uint16_t stream, std::string_view name,
                           const cg_scheme_desc_t& scheme) {
    if (!Recording())
        return;
    // A stream opens a few times a day: the layout is encoded before it is handed over.
    std::string payload;
    EncodeScheme(payload, name, scheme);
    Put(TRecordKind::StreamOpen, stream, kNoTable, payload);
}

void TRecorder::StreamData(std::uint16_t stream, const cg_msg_streamdata_t& msg) {
    const std::int64_t rev = msg.rev;
    Put(TRecordKind::StreamData, stream, TableOf(msg.msg_index),
        std::string_view(reinterpret_cast<const char*>(&rev), sizeof rev),
        Bytes(msg.data, msg.data_size));
}

void TRecorder::ReplState(std::uint16_t stream, const void* data, std::size_t size) {
    Put(TRecordKind::ReplState, stream, kNoTable, Bytes(data, size));
}

void TRecorder::LifeNum(std::uint16_t stream, const void* data, std::size_t size) {
    Put(TRecordKind::LifeNum, stream, kNoTable, Bytes(data, size));
}

void TRecorder::ClearDeleted(std::uint16_t stream, const void* data, std::size_t size) {
    std::uint32_t table = kNoTable;
    if (data != nullptr && size >= sizeof table)
        std::memcpy(&table, data, sizeof table);
    Put(TRecordKind::ClearDeleted, stream, table, Bytes(data, size));
}

void TRecorder::Online(std::uint16_t stream) {
    Put(TRecordKind::Online, stream, kNoTable, {});
}

void TRecorder::Offline(std::uint16_t stream) {
    Put(TRecordKind::Offline, stream, kNoTable, {});
}

void TRecorder::TransReply(std::uint16_t stream, const cg_msg_data_t& msg) {
    char head[16];
    const auto index = static_cast<std::uint32_t>(msg.msg_index);
    const std::string_view name = msg.msg_name != nullptr ? msg.msg_name : "";
    const auto nameSize = static_cast<std::uint32_t>(name.size());
    std::memcpy(head, &index, 4);
    std::memcpy(head + 4, &msg.msg_id, 4);
    std::memcpy(head + 8, &msg.user_id, 4);
    std::memcpy(head + 12, &nameSize, 4);
    Put(TRecordKind::TransReply, stream, TableOf(msg.msg_index),
        std::string_view(head, sizeof head), name, Bytes(msg.data, msg.data_size));
}

void TRecorder::Run() {
    auto lastSync = std::chrono::steady_clock::now();
    const auto round =
        std::min<std::chrono::milliseconds>(FOptions.SyncEvery / 4, std::chrono::milliseconds(100));
    while (!FWorker->Terminated()) {
        FWake.WaitAnyFor(static_cast<unsigned>(std::max<std::int64_t>(round.count(), 1)));
        FClock.Calibrate();
        Drain();
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSync >= FOptions.SyncEvery) {
            // What is on the disk is at most one sync period old.
            FlushFrame();
            if (FWriter.IsOpen() && !FWriter.Sync())
                Fault(FWriter.Fault());
            if (FDeals.IsOpen() && !FDeals.Commit())
                DealsFault();
            lastSync = now;
        }
    }
    Drain();
    FlushFrame();
    if (FWriter.IsOpen() && !FWriter.Sync())
        Fault(FWriter.Fault());
    FWriter.Close();
    if (FDeals.IsOpen() && !FDeals.Commit())
        DealsFault();
    FDeals.Close();
    FDealsTried = false;
}

void TRecorder::Drain() {
    std::vector<TGapEntry> dropped;
    std::int64_t droppedNs = 0;
    std::size_t first = 0;
    std::size_t count = 0;
    {
        std::lock_guard guard(FLock);
        // The head's part goes too, so nothing waits for more than a round; the producers move
        // on to the next chunk when there is one free.
        if (FChunks[FHead].Used != 0 && FBusy + 1 < FChunks.size()) {
            FHead = (FHead + 1) % FChunks.size();
            ++FBusy;
        }
        first = FTail;
        count = FBusy;
        dropped.swap(FDropped);
        droppedNs = FDroppedNs;
    }
    for (std::size_t n = 0; n < count; ++n) {
        TChunk& chunk = FChunks[(first + n) % FChunks.size()];
        DrainChunk(std::string_view(chunk.Data.get(), chunk.Used));
        chunk.Used = 0;
        chunk.Control = 0;
        if (chunk.Capacity != FChunkBytes + kControlRoom) {
            // One message's own chunk goes back to the common size.
            chunk.Capacity = FChunkBytes + kControlRoom;
            chunk.Data = std::make_unique<char[]>(chunk.Capacity);
        }
    }
    if (count != 0) {
        std::lock_guard guard(FLock);
        FTail = (FTail + count) % FChunks.size();
        FBusy -= count;
    }
    if (FDeals.IsOpen() && FDeals.Pending() >= FOptions.DealBatch && !FDeals.Commit())
        DealsFault();
    if (!dropped.empty())
        AddGap(dropped, droppedNs);
}

void TRecorder::DrainChunk(std::string_view taken) {
    std::size_t at = 0;
    while (at < taken.size()) {
        std::size_t size = 0;
        const auto r = TakeRecord(taken.substr(at), size);
        if (!r)
            break;
        if (r->Kind == kDayMark) {
            FlushFrame();
            OpenDay(std::string(r->Payload));
        } else {
            Add(taken.substr(at, size), r->TimeNs);
            if (FDeals.IsOpen() && !FDeals.Take(*r))
                DealsFault();
        }
        at += size;
    }
}

void TRecorder::AddGap(const std::vector<TGapEntry>& lost, std::int64_t timeNs) {
    const std::string payload = EncodeGap(lost);
    std::string record(kRecordHeaderSize, '\0');
    timeNs = std::max(timeNs, FFrameLast);
    PutRecordHeader(record.data(), TRecordKind::Gap, kNoStream, kNoTable, timeNs,
                    static_cast<std::uint32_t>(payload.size()));
    record += payload;
    Add(record, timeNs);
    if (!FLossTold && !FFaulted) {
        FLossTold = true;
        std::uint64_t count = 0;
        for (const TGapEntry& e : lost)
            count += e.Lost;
        if (FJournal)
            FJournal("Внимание: запись истории не успевает за потоком данных: пропущено " +
                     std::to_string(count) + " сообщ., в записи отмечен пропуск.");
    }
}

void TRecorder::Add(std::string_view record, std::int64_t timeNs) {
    if (FFaulted)
        return;
    if (FFrameRecords != 0 && (FFrame.size() + record.size() > FOptions.FrameBytes ||
                               timeNs - FFrameFirst >= FOptions.FrameNs))
        FlushFrame();
    const std::size_t start = FFrame.size();
    FFrame.append(record);
    if (timeNs < FTimeFloor) {
        // Stamped before a resumed day's file told how far its times had gone.
        timeNs = FTimeFloor;
        std::memcpy(FFrame.data() + start + 12, &timeNs, sizeof timeNs);
    }
    FTimeFloor = timeNs;
    if (FFrameRecords == 0)
        FFrameFirst = timeNs;
    FFrameLast = timeNs;
    ++FFrameRecords;
}

void TRecorder::FlushFrame() {
    if (FFrameRecords == 0)
        return;
    if (!FFaulted && !FWriter.WriteFrame(FFrame, FFrameRecords, FFrameFirst, FFrameLast))
        Fault(FWriter.Fault().empty() ? "файл дня не открыт" : FWriter.Fault());
    FFrame.clear();
    FFrameRecords = 0;
}

void TRecorder::OpenDay(const std::string& date) {
    if (FFaulted)
        return;
    if (FWriter.IsOpen() && !FWriter.Sync()) {
        Fault(FWriter.Fault());
        return;
    }
    if (!FWriter.Open(FOptions.Folder, date, Now(), FOptions.Keep)) {
        Fault(FWriter.Fault());
        return;
    }
    // A resumed day keeps its times from going back; a new one starts where the clock is.
    FTimeFloor = FWriter.LastNs();
    // The folder exists now. The database outlives days: it is opened once per run.
    if (FOptions.Deals && !FDealsTried) {
        FDealsTried = true;
        if (!FDeals.Open(FOptions.Folder / "history.db"))
            DealsFault();
    }
}

void TRecorder::DealsFault() {
    // The day files go on: they hold every deal and can be replayed into the database later.
    const std::string why = FDeals.Error();
    FDeals.Close();
    if (FJournal)
        FJournal("Внимание: база сделок истории не пишется: " + why + ".");
}

void TRecorder::Fault(const std::string& why) {
    if (FFaulted)
        return;
    FFaulted = true;
    FRecording.store(false, std::memory_order_relaxed);
    FWriter.Close();
    FFrame.clear();
    FFrameRecords = 0;
    if (FJournal)
        FJournal("Внимание: запись истории остановлена: " + why + ".");
}

} // namespace vorlen::history
