#include "orders/TrTransport.h"

#include "connections/GatewayRecords.h"
#include "store/FieldConversion.h"

namespace vorlen::orders {

std::uint32_t TTrTransport::NextId() {
    std::uint32_t id = 0;
    FConn.GetTrandID(id);
    return id;
}

bool TTrTransport::PostAdd(std::uint32_t trId, std::int32_t isinId, const TAddOrderParams& p) {
    return FConn.AddOrder(trId, isinId, p, FEvents.Event(0), &FThrottled);
}

bool TTrTransport::PostCancel(std::uint32_t trId, std::int32_t isinId, const TDelOrderParams& p) {
    return FConn.DelOrder(trId, isinId, p, FEvents.Event(0), &FThrottled);
}

bool TTrTransport::TakeReply(std::uint32_t trId, TReply& out) {
    TReplData data;
    if (!FConn.TakeReply(trId, data)) {
        return false;
    }
    const auto code = data.Fields.find("code");
    // A reply without a code is not an answer the terminal understands: counted as a failure.
    out.Code = code != data.Fields.end() ? VarAsInteger(code->second.Data) : -1;
    const auto id = data.Fields.find("order_id");
    out.OrderId = id != data.Fields.end() ? VarAsInt64(id->second.Data) : 0;
    return true;
}

TLinkHealth TTrTransport::Health() {
    // Nothing can be posted without an active publisher, whatever the connection's health says.
    if (FConn.PubState() != CG_STATE_ACTIVE) {
        return TLinkHealth::Offline;
    }
    return FLinkHealth ? FLinkHealth() : TLinkHealth::Online;
}

} // namespace vorlen::orders
