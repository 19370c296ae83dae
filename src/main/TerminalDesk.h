#pragma once

// The program's order desk while the transaction connection runs: the desk over that connection,
// the store's facts, both links' health as the health monitor judges them, the book keeper's best
// prices, the limits file and the order log beside the saved settings.

#include "health/HealthMonitor.h"
#include "orders/OrderDesk.h"
#include "orders/TrTransport.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vorlen {

class TBookKeeper;
class TCGStorage;
class TCGTRConnection;

// The gate's view of one link: the monitor's judgement, so a link that claims to be active while
// the exchange has gone silent counts as stale.
orders::TLinkHealth DeskLinkHealth(const THealthMonitor* health, THealthLink link);

// Hands the desk each reply and keeps the last ones, so a window can tell the trader what became
// of the order it posted.
class TReplyKeepingTransport final : public orders::IOrderTransport {
public:
    explicit TReplyKeepingTransport(std::unique_ptr<orders::IOrderTransport> inner)
        : FInner(std::move(inner)) {}
    std::uint32_t NextId() override { return FInner->NextId(); }
    bool PostAdd(std::uint32_t trId, std::int32_t isinId, const TAddOrderParams& p) override {
        return FInner->PostAdd(trId, isinId, p);
    }
    bool PostCancel(std::uint32_t trId, std::int32_t isinId, const TDelOrderParams& p) override {
        return FInner->PostCancel(trId, isinId, p);
    }
    bool TakeReply(std::uint32_t trId, orders::TReply& out) override;
    void WaitReply(unsigned ms) override { FInner->WaitReply(ms); }
    orders::TLinkHealth Health() override { return FInner->Health(); }

    std::optional<orders::TReply> ReplyOf(std::uint32_t trId) const;

private:
    static constexpr std::size_t kKept = 256;
    std::unique_ptr<orders::IOrderTransport> FInner;
    mutable std::mutex FLock;
    std::deque<std::pair<std::uint32_t, orders::TReply>> FReplies;
};

// The exchange's reply to a transaction the desk posted, once it has been taken; nothing while
// it has not come, or when the desk does not keep replies.
std::optional<orders::TReply> PostedReply(orders::TOrderDesk& desk, std::uint32_t trId);

struct TTerminalDeskParts {
    TCGTRConnection* Transactions = nullptr;
    TCGStorage* Store = nullptr;
    const THealthMonitor* Health = nullptr;
    const TBookKeeper* Books = nullptr; // may be null: no distance rule then
    std::filesystem::path Dir;          // the limits file and the order logs
    // Called from whichever thread used the desk.
    std::function<void(const std::string& text)> Journal;
    std::function<void()> StopStrategies;
};

class TTerminalDesk {
public:
    // Reads the limits file of `parts.Dir`; a damaged one is reported in the journal and the
    // built-in limits hold.
    explicit TTerminalDesk(TTerminalDeskParts parts);
    orders::TOrderDesk& Desk() { return *FDesk; }

private:
    std::optional<std::int64_t> BestOpposite(const std::string& isin, orders::TSide side);

    TTerminalDeskParts FParts;
    std::unique_ptr<orders::TStoreReader> FReader;
    orders::TOrderLogFile FLog;
    // The reference rows of the last read (the desk reads the facts before it asks for a price,
    // both under its own lock).
    std::shared_ptr<const orders::TRefFacts> FRef;
    std::unique_ptr<TReplyKeepingTransport> FTransport;
    std::unique_ptr<orders::TOrderDesk> FDesk;
};

// The limits file of `dir`: the built-in limits when there is none; false with `error` when it
// cannot be read or is not a limits file (the book is then unchanged).
bool LoadLimitsFile(const std::filesystem::path& dir, orders::TLimitsBook& book,
                    std::string& error);
// What the limits dialog starts from: the file as it is, or the built-in limits written out.
std::string LimitsFileText(const std::filesystem::path& dir);
// Checks `text` as a limits file and writes it owner-only; false with `error` otherwise.
bool SaveLimitsFile(const std::filesystem::path& dir, const std::string& text,
                    orders::TLimitsBook& parsed, std::string& error);

} // namespace vorlen
