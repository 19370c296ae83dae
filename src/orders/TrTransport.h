#pragma once

// The desk's transport over the transaction connection: one event for every reply it waits for.

#include "connections/TrConnection.h"
#include "gateway/AddOrderMessage.h"
#include "orders/OrderDesk.h"
#include "platform/Events.h"

#include <functional>

namespace vorlen::orders {

class TTrTransport final : public IOrderTransport {
public:
    // `linkHealth`: the connection's health as the terminal judges it (silence of the exchange
    // included); without it only the publisher's own state counts.
    explicit TTrTransport(TCGTRConnection& conn, std::function<TLinkHealth()> linkHealth = {})
        : FConn(conn), FLinkHealth(std::move(linkHealth)), FEvents(1) {}
    std::uint32_t NextId() override;
    bool PostAdd(std::uint32_t trId, std::int32_t isinId, const TAddOrderParams& p) override;
    bool PostCancel(std::uint32_t trId, std::int32_t isinId, const TDelOrderParams& p) override;
    bool Throttled() override { return FThrottled; }
    std::int32_t PostsPerSecond() override { return FConn.TrMax.load(); }
    std::size_t Room() override { return FConn.TrRoom(); }
    bool TakeReply(std::uint32_t trId, TReply& out) override;
    void WaitReply(unsigned ms) override { FEvents.WaitAnyFor(ms); }
    TLinkHealth Health() override;

private:
    TCGTRConnection& FConn;
    std::function<TLinkHealth()> FLinkHealth;
    TEventSet FEvents;
    bool FThrottled = false; // of the last post
};

} // namespace vorlen::orders
