#pragma once

// The in-memory replica of the chosen replication streams. One lock guards everything; it is
// held for the whole of every operation and events are signalled while it is held (signalling
// never blocks). The one exception is memory: the rows of a cleared table are freed after the
// lock is let go, so a new life number on a big table keeps readers out only for a moment.
//
// Rows keep the bytes of the message they last received and are converted when read, so the
// gateway library (decimals) must stay loaded while anything reads the store.
//
// Rows (store/Rows.h) are shared, never copied per reader: GetTable and GetData hand out the
// store's own TRows, and readers look at them only while they hold a TAccess.

#include "platform/Events.h"
#include "platform/Mutex.h"
#include "store/Rows.h"
#include "store/StoreObserver.h"
#include "store/StoreRecords.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
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
    // Any change to a key table's rows (a new row, a row changed in place or removed, a clear)
    // signals its event.
    void SetGridEvents(const std::array<TEvent, kKeyTableCount>& events);

    // Grows with every change to a key table's rows (as its grid event is signalled) and with
    // every new description of a stream; read without the lock, so a reader of the key tables
    // can tell cheaply that nothing it read has changed since.
    std::uint64_t KeyTableChanges() const;
    // The same for one table: key table `no` (0..6), or kFuturesRefTable for the futures'
    // reference rows ("fut_sess_contents"), so a reader of a few tables is not woken by the rest.
    static constexpr int kFuturesRefTable = kKeyTableCount;
    // And the options' ("opt_sess_contents").
    static constexpr int kOptionsRefTable = kKeyTableCount + 1;
    std::uint64_t TableChanges(int no) const;

    // A follower of the tables (the order books), told of every change under the lock; null
    // detaches it. Set before the connection starts and cleared before the follower goes.
    void SetObserver(TStoreObserver* observer);

    // Experts on the same instrument each register; every one of them is woken.
    void RegEvent(std::int32_t Key, TEvent Event);
    // Withdraws one registration, so a closed expert's event is never signalled again.
    void UnregEvent(std::int32_t Key, TEvent Event);

    void SetTblsDesc(std::int32_t idx, TStreamData& StrData, const cg_scheme_desc_t& Scheme);
    void UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData);

    // Stream-data messages that reach the store one after another on the thread that feeds it
    // (those of one cg_conn_process call) share one hold of the lock: each is applied exactly as
    // UpdStrMsg applies it, with the same events and follower calls, but the lock is taken at
    // the first of them and kept until Release, the batch's end, or kMessages messages later,
    // so a reader waits for a short run of messages at most. While a batch holds the lock its
    // thread may call nothing else of the store and must not wait for another thread that might
    // want the lock: it calls Release first.
    // A message may be applied a little after the call that hands it over (the next ones' rows
    // are fetched meanwhile), but always before the lock is let go. Its bytes are copied, so
    // neither they nor the listener's record need outlive the call.
    // Once a message has woken an expert (RegEvent), the batch lets the lock go where the rows
    // of the instruments experts follow end (a futures move is a dozen rows of its book, then a
    // hundred of its options repriced): once, giving way to the woken thread, and then whenever
    // a taker waits awake for it. A reader may so see a batch's other instruments half applied,
    // as at the kMessages cut; a followed instrument's run of rows is cut only there.
    class TBatch {
    public:
        static constexpr unsigned kMessages = 256;
        // The longest the feeding thread waits for a taker waiting awake to take the lock.
        static constexpr std::chrono::microseconds kHandOver{5};
        explicit TBatch(TCGStorage& store) : FStore(store) {}
        ~TBatch() {
            try {
                Release();
            } catch (...) {
                // The lock is let go and the messages left are lost; a destructor can do no
                // more. A caller that must hear of a failure calls Release itself.
            }
        }
        TBatch(const TBatch&) = delete;
        TBatch& operator=(const TBatch&) = delete;

        void UpdStrMsg(const cg_msg_streamdata_t& Msg, const TStreamData& strData);
        // Applies the messages still waiting and lets the lock go, even when applying throws.
        void Release();

    private:
        void LetExpertIn();
        // Applies the messages still waiting and lets the lock go; the batch goes on.
        void LetGo();
        TCGStorage& FStore;
        unsigned FCount = 0;
        bool FHeld = false;
        bool FWoke = false;    // a message of this batch woke an expert
        bool FYielded = false; // and this thread gave way once
        bool FLate = false;    // a taker was let in and did not take the lock in time
    };
    void LNClearTables(std::int32_t idx);
    // `size` is the message's data size; a record shorter than cg_data_cleardeleted_t is ignored.
    void ClearDeleted(std::int32_t idx, const void* ClDel, std::size_t size);
    bool BuildHeaders();

    void GetData(TMarketData& Data);
    void GetHeaders(THeaders& FHdr, THeaders& OHdr, TSHeaders& SHdr);
    // A key table that has no row yet has no position: `Table` is left as it was.
    void GetTable(std::int32_t no, TTable& Table);

    // Takes a row out of key table `no` (the journal pass consumes "sys_messages" this way);
    // false when there is no such row. Takes the lock itself.
    bool RemoveRow(std::int32_t no, std::int64_t replId);

    // A reader's hold on the store's lock. While it lives, the rows of any TTable the store
    // handed out may be read, and rows removed through it; nothing else may touch them. The
    // lock is not recursive: no store operation may be called while one is held, and row views
    // must not outlive it.
    class TAccess {
    public:
        explicit TAccess(TCGStorage& store) : FGuard(store.FMutex) {}
        // The table's rows; an empty set for a table that has none.
        const TRows& Rows(const TTable& table) const;
        bool Remove(const TTable& table, std::int64_t replId);

    private:
        TMutexGuard FGuard;
    };

    // Readers of shared rows (grid passes, field maps) hold this while they read; TAccess is
    // the usual way to do so.
    TMutex& Mutex() { return FMutex; }

private:
    struct Impl;
    TMutex FMutex;
    std::unique_ptr<Impl> FImpl;
};

} // namespace vorlen
