#pragma once

// The in-memory replica of the chosen replication streams. One lock guards everything; it is
// held for the whole of every operation and events are signalled while it is held (signalling
// never blocks).

#include "platform/Events.h"
#include "platform/Mutex.h"
#include "store/CG_Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlen {

// The seven key tables, numbered as GetTable and the grid updater number them.
constexpr int kKeyTableCount = 7;

class TCGStorage {
public:
    TCGStorage();
    ~TCGStorage();
    TCGStorage(const TCGStorage&) = delete;
    TCGStorage& operator=(const TCGStorage&) = delete;

    // Sizes and names the streams, in listener order, before the connection starts.
    void SetStreams(const std::vector<std::string>& names);
    // Hide futures whose code contains "_CLT" from the instrument lists.
    void SetCLTFut(bool on);
    // The grid updater's events, one per key table (0..6); an empty TEvent signals nothing.
    void SetGridEvents(const std::array<TEvent, kKeyTableCount>& events);

    bool RegEvent(std::int32_t Key, TEvent Event);
    // Withdraws one registration, so a closed expert's event is never signalled again.
    void UnregEvent(std::int32_t Key, TEvent Event);

    void SetTblsDesc(std::int32_t idx, TStreamData& StrData, const cg_scheme_desc_t& Scheme);
    void UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData);
    void LNClearTables(std::int32_t idx);
    // `size` is the message's data size; a record shorter than cg_data_cleardeleted_t is ignored.
    void ClearDeleted(std::int32_t idx, const void* ClDel, std::size_t size);
    bool BuildHeaders();

    bool GetData(TMarketData& Data);
    bool GetHeaders(THeaders& FHdr, THeaders& OHdr, TSHeaders& SHdr);
    bool GetTable(std::int32_t no, TTable& Table);

    // Readers of shared rows (grid passes, field maps) hold this while they read.
    TMutex& Mutex() { return FMutex; }

private:
    struct Impl;
    TMutex FMutex;
    std::unique_ptr<Impl> FImpl;
};

} // namespace vorlen
