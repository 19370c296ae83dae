#include "history/Replay.h"

#include "connections/ReplicaFeed.h"

#include <algorithm>
#include <vector>

namespace vorlen::history {

namespace {

bool MarketStream(std::uint16_t stream) {
    return stream != kNoStream && stream != kTransactionStream;
}

} // namespace

bool TReplay::Run(const std::filesystem::path& file, std::string& error, std::int64_t untilNs) {
    if (!Open(file, error))
        return false;
    TRecordView record;
    while (FReader.Next(record) && record.TimeNs <= untilNs)
        Apply(record);
    Flush();
    return true;
}

void TReplay::Flush() {
    FBatch.Release();
    FStats.Skipped = FReader.SkippedFrames();
}

bool TReplay::Open(const std::filesystem::path& file, std::string& error) {
    // The store learns its streams, by listener position, before any of them is described, as
    // it does from the subscription before the connection starts; the names decide which tables
    // are key tables. A first pass finds them all: the instrument lists are built once every
    // listener is on-line, and one that opens late must count as not on-line until it does.
    TRecordingReader names;
    if (!names.Open(file)) {
        error = names.Error();
        return false;
    }
    FDate = names.Header().TradingDate;
    std::vector<std::string> streams;
    TRecordView record;
    while (names.Next(record)) {
        if (record.Kind != TRecordKind::StreamOpen || !MarketStream(record.Stream))
            continue;
        if (record.Stream >= streams.size())
            streams.resize(record.Stream + 1u);
        if (streams[record.Stream].empty())
            if (const auto scheme = TRecordedScheme::Decode(record.Payload))
                streams[record.Stream] = scheme->StreamName();
    }
    FStore.SetStreams(streams);
    FListeners.assign(streams.size(), TListenerData{});
    for (std::size_t i = 0; i < streams.size(); ++i) {
        FListeners[i].LsnParams.StrName = streams[i];
        FListeners[i].StreamData.sName = streams[i];
        FListeners[i].StreamData.Pos = static_cast<std::int32_t>(i);
    }

    if (!FReader.Open(file)) {
        error = FReader.Error();
        return false;
    }
    return true;
}

void TReplay::Apply(const TRecordView& record) {
    FStats.LastNs = record.TimeNs;
    if (record.Kind == TRecordKind::Gap) {
        if (const auto gap = DecodeGap(record.Payload))
            for (const TGapEntry& e : *gap)
                FStats.Lost += e.Lost;
        return;
    }
    if (!MarketStream(record.Stream) || record.Stream >= FListeners.size())
        return;
    const auto idx = static_cast<std::int32_t>(record.Stream);
    TListenerData& el = FListeners[record.Stream];
    // The payloads are the gateway's bytes as received; the message only points at them.
    auto* bytes = const_cast<char*>(record.Payload.data());
    cg_msg_t msg{};
    msg.data = bytes;
    msg.data_size = record.Payload.size();
    const cg_scheme_desc_t* scheme = nullptr;
    switch (record.Kind) {
    case TRecordKind::StreamOpen: {
        auto decoded = TRecordedScheme::Decode(record.Payload);
        if (!decoded)
            return;
        // Every layout stays as long as this object: the store keeps pointers into it.
        FSchemes.push_back(std::move(*decoded));
        scheme = &FSchemes.back().Scheme();
        msg = cg_msg_t{CG_MSG_OPEN, 0, nullptr};
        break;
    }
    case TRecordKind::StreamData: {
        const auto data = DecodeStreamData(record.Payload);
        if (!data || record.Table == kNoTable)
            return;
        cg_msg_streamdata_t row{};
        row.type = CG_MSG_STREAM_CHANGED;
        row.data = const_cast<char*>(data->Bytes.data());
        row.data_size = data->Bytes.size();
        row.msg_index = record.Table;
        row.rev = data->Rev;
        ++FStats.Records;
        // The gateway's messages share their first fields, and its readers go by the type field,
        // as the connection's listener does with what the gateway hands it.
        const auto* asMessage = reinterpret_cast<const cg_msg_t*>(&row);
        ApplyToReplica(FStore, FBatch, idx, el, *asMessage, nullptr);
        return;
    }
    case TRecordKind::ReplState:
        msg.type = CG_MSG_P2REPL_REPLSTATE;
        break;
    case TRecordKind::LifeNum:
        msg.type = CG_MSG_P2REPL_LIFENUM;
        break;
    case TRecordKind::ClearDeleted:
        msg.type = CG_MSG_P2REPL_CLEARDELETED;
        break;
    case TRecordKind::Online:
        msg = cg_msg_t{CG_MSG_P2REPL_ONLINE, 0, nullptr};
        break;
    case TRecordKind::Offline:
        msg = cg_msg_t{CG_MSG_CLOSE, 0, nullptr};
        break;
    default:
        return;
    }
    ++FStats.Records;
    ApplyToReplica(FStore, FBatch, idx, el, msg, scheme);
    if (record.Kind == TRecordKind::Online && !FBuilt && AllOnline(FListeners)) {
        FBuilt = true;
        FStats.InstrumentsBuilt = true;
        FStore.BuildHeaders();
    } else if (record.Kind == TRecordKind::Offline &&
               std::none_of(FListeners.begin(), FListeners.end(),
                            [](const TListenerData& l) { return l.LsnParams.cgMsgOpen; })) {
        // Every listener closed: the connection's run ended, and the next one builds the lists
        // anew once all are on-line again.
        FBuilt = false;
    }
}

} // namespace vorlen::history
