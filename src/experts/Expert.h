#pragma once

// The thread half of an expert: a worker bound to one futures instrument that wakes when the
// store reports new data for it, refreshes its snapshot and calls the strategy hook, and turns
// failed order replies into lines of its window's journal. What a window holds of it (with its
// strategy) is TExpertHost; the windows themselves live with the GUI and the console.
// These files were CHILDWIN.*; the types keep their names (TExpert, TOrderReplies).

#include "connections/GatewayRecords.h"
#include "gateway/AddOrderMessage.h"
#include "platform/Events.h"
#include "platform/Journal.h"
#include "platform/Thread.h"
#include "store/ExpertFieldMap.h"

#include <cstdint>
#include <string>

namespace vorlen {

class TCGStorage;
class TCGTRConnection;

// Where an expert collects the replies to its orders.
class TOrderReplies {
public:
    virtual ~TOrderReplies() = default;
    // Hands over and forgets the reply registered under Key; false when there is none.
    virtual bool GetReplData(std::uint32_t Key, TReplData& Data) = 0;
};

// The transaction connection as an expert's reply source.
class TTrReplies final : public TOrderReplies {
public:
    explicit TTrReplies(TCGTRConnection& conn) : FConn(conn) {}
    bool GetReplData(std::uint32_t Key, TReplData& Data) override;

private:
    TCGTRConnection& FConn;
};

// What an expert runs on its own thread besides its framework: a strategy (strategies/). Every
// call comes from the expert's thread.
class TExpertHook {
public:
    virtual ~TExpertHook() = default;
    // After each refresh of the snapshot.
    virtual void OnTick() = 0;
    // After the expert's OrderEvent has been handled.
    virtual void OnOrderReplies() = 0;
    // The hook's own event (TExpert::HookEvent) was signalled.
    virtual void OnHookEvent() = 0;
    // The thread is about to end; the last call.
    virtual void OnThreadEnd() = 0;
};

class TExpert : public TThread {
public:
    // Wait-list positions; the first signalled in this order is served.
    static constexpr unsigned kTradeEvent = 0;
    static constexpr unsigned kTickEvent = 1;
    static constexpr unsigned kOrderEvent = 2;
    static constexpr unsigned kErrorEvent = 3;
    static constexpr unsigned kExitEvent = 4;
    // Past the five of the framework, so that every one of them keeps its rank.
    static constexpr unsigned kHookEvent = 5;
    static constexpr unsigned kEventCount = 6;

    // Created suspended, with its field map built from the store's current data. `replies` may
    // be null (no order replies are read); it and the store must outlive the thread.
    TExpert(TCGStorage& store, TOrderReplies* replies);
    // Stops the thread if its owner has not and withdraws its store registration.
    ~TExpert() override;

    // Registers TickEvent with the store under isin_id and, when that succeeds, starts the
    // thread. The registration is withdrawn when the expert stops or goes away.
    bool RegisterAndStart();
    // Withdraws the registration, signals ExitEvent, asks the thread to terminate and waits for
    // it. Returns at once for a thread that never started.
    void Stop();

    TEvent TradeEvent() { return FEvents.Event(kTradeEvent); }
    TEvent TickEvent() { return FEvents.Event(kTickEvent); }
    TEvent OrderEvent() { return FEvents.Event(kOrderEvent); }
    TEvent ErrorEvent() { return FEvents.Event(kErrorEvent); }
    TEvent ExitEvent() { return FEvents.Event(kExitEvent); }
    TEvent HookEvent() { return FEvents.Event(kHookEvent); }

    // Set before the thread starts; not owned, and it must outlive the thread.
    void SetHook(TExpertHook* hook) { FHook = hook; }
    // A journal line from the expert's thread: MemoStr, then UpdMemo on the UI thread.
    void WriteMemo(const std::string& text);

    // Appends the journal line built from MemoStr to Memo; runs on the user-interface thread.
    void UpdMemo();

    TDataBase DataBase;
    std::int32_t isin_id = 0;
    std::string Futshort_isin;
    std::string Futisin;
    std::string Futname;
    TJournalSink* Memo = nullptr; // the window's pane, not owned; set before the thread starts
    std::string MemoStr;
    std::uint32_t TransId = 0;
    TAddOrderParams AddOrderParams{};

protected:
    void Execute() override;
    // The strategy hook, called on the expert's thread after each refresh of the snapshot.
    virtual void ProcessTick() {
        if (FHook != nullptr)
            FHook->OnTick();
    }

private:
    void OrderReply();
    void Unregister();
    void DropPendingReply();

    TCGStorage& FStore;
    TOrderReplies* FReplies;
    TExpertHook* FHook = nullptr;
    TEventSet FEvents{kEventCount};
    bool FRegistered = false;
    std::int32_t FRegisteredKey = 0;
};

} // namespace vorlen
