#pragma once

// The transaction connection: a worker thread that owns the gateway connection "transaction",
// the order publisher and its reply listener, plus the order path offered to experts: ids,
// posting with a rate limit, and a registry of pending replies.

#include "connections/GatewayRecords.h"
#include "gateway/AddOrderMessage.h"
#include "gateway/GatewayCInterface.h"
#include "health/HealthFeed.h"
#include "platform/Clock.h"
#include "platform/Events.h"
#include "platform/Journal.h"
#include "platform/Mutex.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace vorlen {

namespace history {
class TRecorder;
}

// The body of one "DelOrder" message, filled into the message by field name.
struct TDelOrderParams {
    char broker_code[5] = {};
    std::int64_t order_id = 0;
    char client_code[4] = {};
    std::int32_t isin_id = 0;
};

class TCGTRConnection : public TThread {
public:
    // A monotonic clock in milliseconds for the posting limiter; tests pass their own.
    using TMsClock = platform::TMsClock;

    // The settings record is read when the thread starts. `memo` may be null (no journal); an
    // empty clock means std::chrono::steady_clock.
    TCGTRConnection(const TConnectorSettings& settings, TJournalSink* memo, TMsClock clock = {});
    // Stops and waits for the thread if its owner has not done so; replies never fetched are
    // freed with the object.
    ~TCGTRConnection() override;

    // Ends the run as a disconnection: the thread closes and destroys what it opened (listeners,
    // publisher, connection, in the gateway's order) on its way out. A plain Terminate, at
    // shutdown, leaves them to the closing of the gateway environment. Wait with WaitFor.
    void RequestDisconnect() {
        FDisconnect.store(true, std::memory_order_release);
        Terminate();
    }

    // Where the thread reports its health; may stay null. Set before Start.
    void SetHealthFeed(THealthFeed* feed) { FHealth = feed; }
    // Where the reply listener's messages are recorded; null: nowhere. It outlives the thread.
    // Set before Start.
    void SetRecorder(history::TRecorder* recorder) { FRecorder = recorder; }

    // Set before Start (the connect command does it).
    std::string PubName = "publisher";
    std::string SchemVer;
    std::atomic<std::int32_t> TrMax{0};

    // Ids run 1, 2, ... 2147483646, 1, ...; always true.
    bool GetTrandID(std::uint32_t& id);
    // Posts one "AddOrder" whose user id is tr_id and has Event signalled once its reply has
    // been stored. False (and nothing registered) when the publisher is not active, the id is
    // still registered, the limiter refuses, or the gateway does not take the message;
    // `throttled`, when given, says whether it was the limiter.
    bool AddOrder(std::uint32_t tr_id, std::int32_t isin_id, const TAddOrderParams& AOP,
                  TEvent Event, bool* throttled = nullptr);
    // Posts one "DelOrder" on the same publisher, limiter and reply registry as AddOrder.
    bool DelOrder(std::uint32_t tr_id, std::int32_t isin_id, const TDelOrderParams& DOP,
                  TEvent Event, bool* throttled = nullptr);
    // How many posts the limiter would admit now.
    std::size_t TrRoom();
    // As GetReplData, but only once the reply has been stored: a caller that polls several
    // pending ids never takes an entry whose reply is still on its way.
    bool TakeReply(std::uint32_t Key, TReplData& Data);
    // Registers a pending reply; false when Key is still registered (its earlier caller would
    // otherwise never be answered).
    bool RegEvent(std::uint32_t Key, std::int32_t isin_id, TEvent Event);
    // Hands over and forgets the entry of Key; false (Data untouched) when there is none.
    bool GetReplData(std::uint32_t Key, TReplData& Data);

    // The publisher state the thread read last (0 closed, 1 error, 2 opening, 3 active).
    std::int32_t PubState() const { return FPubState.load(std::memory_order_acquire); }
    cg_conn_t* hConn() const { return FConn.load(std::memory_order_acquire); }

    static std::string ConnectionString(const TConnectorSettings& s);
    static std::string PublisherSettings(const std::string& pubName, const std::string& schemVer);
    static std::string ReplyListenerSettings(const std::string& pubName);

    // Creates the reply listener registered with TRListenerCallback; returns the gateway's
    // result.
    static std::uint32_t CreateListener(cg_conn_t* conn, const std::string& settings,
                                        cg_listener_t*& lsn, void* userData);
    // Dispatch of one reply-listener message; runs on this thread inside cg_conn_process.
    std::uint32_t ProcessMessage(const cg_msg_t* msg, void* data);

protected:
    void Execute() override;
    // Admits at most TrMax posts in any 1000 ms.
    bool CheckTrSpeed();

    std::uint32_t Trans_id = 0; // under TRMutex

private:
    void UpdMemo();
    void Journal(std::string text);
    void BeginRun();
    void RunConnection();
    void EndRun(cg_conn_t* conn);
    void Pass(cg_conn_t* conn);
    void CheckPublisher();
    void CheckListener();
    void StoreReply(const cg_msg_t* msg);
    template <class TParams>
    bool PostRegistered(std::uint32_t tr_id, std::int32_t isin_id, const char* msgName,
                        const TParams& params, TEvent Event, bool* throttled);
    template <class TParams>
    bool Post(std::uint32_t tr_id, const char* msgName, const TParams& params);
    void Withdraw(std::uint32_t Key, TEvent Event);

    const TConnectorSettings& FSettings;
    TJournalSink* Memo;
    std::string MemoStr;
    TMsClock FClock;

    TMutex TRMutex; // MQRepl and Trans_id
    std::map<std::uint32_t, TReplData> MQRepl;
    std::set<std::uint32_t> FReplied; // keys of MQRepl whose reply has been stored

    std::atomic<cg_conn_t*> FConn{nullptr};
    TListenerData Lsnr;
    cg_scheme_desc_t* LsnScheme = nullptr; // this thread only
    bool FActiveAnnounced = false;
    bool FProcessWarned = false;
    bool FLsnWarned = false;
    std::uint32_t FLsnState = 0; // the reply listener's state read last
    THealthFeed* FHealth = nullptr;
    history::TRecorder* FRecorder = nullptr;
    std::atomic<bool> FDisconnect{false};
    std::uint64_t FReceived = 0;

    // The publisher is used by this thread (state, open, close, scheme) and by the experts'
    // threads (AddOrder). FPubLock keeps a post from running into a close and PubScheme from
    // changing while a post reads it; this thread only ever tries it, so a post never holds the
    // connection up. Never held together with TRMutex or FSpeedLock.
    std::mutex FPubLock;
    cg_publisher_t* Pub = nullptr;         // under FPubLock
    cg_scheme_desc_t* PubScheme = nullptr; // under FPubLock
    bool FSchemeAnnounced = false;         // this thread only
    std::atomic<std::int32_t> FPubState{0};

    std::mutex FSpeedLock;
    std::deque<std::int64_t> FAdmitted; // times of the posts admitted in the last 1000 ms
};

} // namespace vorlen
