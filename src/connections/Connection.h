#pragma once

// The market-data connection: a worker thread that owns the gateway connection "marketdata",
// one listener per subscribed replication stream, and the dispatch of their messages to the
// replica store.

#include "connections/GatewayRecords.h"
#include "gateway/GatewayCInterface.h"
#include "health/HealthFeed.h"
#include "platform/Journal.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"
#include "store/Storage.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vorlen {

namespace history {
class TRecorder;
}

class TCGConnection : public TThread {
public:
    // The settings record is read when the thread starts, not here. `memo` may be null (no
    // journal).
    TCGConnection(TCGStorage& storage, const TConnectorSettings& settings, TJournalSink* memo);
    // Stops and waits for the thread if its owner has not done so.
    ~TCGConnection() override;

    // One element per subscribed stream, filled before Start. Never resized once the thread has
    // started: each element's StreamData address is the user data of its listener.
    TListeners Lsnrs;

    // Run on the UI thread once the instrument lists have been built: the main window's (or the
    // console's) switch to the connected state. Set before Start.
    void SetOnConnected(std::function<void()> onConnected) {
        FOnConnected = std::move(onConnected);
    }

    // Ends the run as a disconnection: the thread closes and destroys what it opened (listeners,
    // publisher, connection, in the gateway's order) on its way out. A plain Terminate, at
    // shutdown, leaves them to the closing of the gateway environment. Wait with WaitFor.
    void RequestDisconnect() {
        FDisconnect.store(true, std::memory_order_release);
        Terminate();
    }

    // Where the thread reports its health; may stay null. Set before Start.
    void SetHealthFeed(THealthFeed* feed) { FHealth = feed; }

    // Where every message goes before the store takes it, numbered by listener position; null:
    // nothing is recorded. It outlives the thread. Set before Start.
    void SetRecorder(history::TRecorder* recorder) { FRecorder = recorder; }

    // True once every listener has reported on-line mode in this run; a new run (Restart, after
    // a disconnection) starts false again.
    bool Online() const { return FOnline.load(std::memory_order_acquire); }
    // The gateway connection, null until the thread has created it.
    cg_conn_t* hConn() const { return FConn.load(std::memory_order_acquire); }

    static std::string ConnectionString(const TConnectorSettings& s);

    // Creates one listener registered with MDListenerCallback; returns the gateway's result.
    static std::uint32_t CreateListener(cg_conn_t* conn, const std::string& settings,
                                        cg_listener_t*& lsn, void* userData);
    // Dispatch of one listener message; runs on this thread inside cg_conn_process.
    std::uint32_t ProcessMessage(const cg_msg_t* msg, void* data);

protected:
    void Execute() override;

private:
    // What the polling loop last saw of one listener, so that a listener stuck in one condition
    // writes its journal line once and not on every pass.
    struct TListenerWatch {
        int LastSeen = -2;     // -2 nothing yet, -1 state query failed, else the state
        bool Recreate = false; // destroyed in the error state: create anew from its Settings
    };

    void UpdMemo();
    void Journal(std::string text);
    void Pass(cg_conn_t* conn);
    void CheckListeners(cg_conn_t* conn);
    void CheckListener(cg_conn_t* conn, TListenerData& el, TListenerWatch& watch);
    void StreamOnline(TListenerData& el);
    const cg_scheme_desc_t* ActiveScheme(const TListenerData& el) const;
    void Record(std::int32_t idx, const TListenerData& el, const cg_msg_t& msg,
                const cg_scheme_desc_t* scheme);
    void BeginRun();
    void RunConnection();
    void EndRun(cg_conn_t* conn);
    void ReportReady();
    int FindElement(const void* data) const;

    TCGStorage& FStorage;
    // The stream-data messages of one cg_conn_process call share a hold of the store's lock;
    // anything else the thread does lets it go first.
    TCGStorage::TBatch FBatch{FStorage};
    const TConnectorSettings& FSettings;
    TJournalSink* Memo;
    std::string MemoStr;
    std::function<void()> FOnConnected;
    std::atomic<bool> FOnline{false};
    std::atomic<cg_conn_t*> FConn{nullptr};
    bool FActiveAnnounced = false;
    bool FProcessWarned = false;
    std::vector<TListenerWatch> FWatch;
    THealthFeed* FHealth = nullptr;
    history::TRecorder* FRecorder = nullptr;
    std::atomic<bool> FDisconnect{false};
    std::uint64_t FReceived = 0;
    // Per listener: the scheme position of its heartbeat table, or none.
    std::vector<std::size_t> FBeatIndex;
    std::uint64_t FBeats = 0;
};

} // namespace vorlen
