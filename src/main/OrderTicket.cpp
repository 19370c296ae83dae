#include "main/OrderTicket.h"

#include "connections/ErrorCode.h"
#include "platform/FormatSettings.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace vorlen {

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::optional<orders::TOrderRequest> TicketOrder(const TTicketInput& in, std::string& error) {
    if (in.Isin.empty()) {
        error = "не выбран инструмент.";
        return std::nullopt;
    }
    if (in.Side != static_cast<int>(orders::TSide::Buy) &&
        in.Side != static_cast<int>(orders::TSide::Sell)) {
        error = "не выбрано направление (покупка или продажа).";
        return std::nullopt;
    }
    const std::string qtyText = Trim(in.Qty);
    std::int64_t qty = 0;
    const auto [end, ec] = std::from_chars(qtyText.data(), qtyText.data() + qtyText.size(), qty);
    if (qtyText.empty() || ec != std::errc() || end != qtyText.data() + qtyText.size() ||
        qty <= 0) {
        error = "количество должно быть целым числом больше нуля.";
        return std::nullopt;
    }
    const std::optional<std::int64_t> price = orders::ParsePrice(Trim(in.Price));
    if (!price || *price <= 0) {
        error = "цена должна быть числом больше нуля (не более пяти знаков после запятой).";
        return std::nullopt;
    }
    if (in.Client.empty()) {
        error = "не выбран код клиента.";
        return std::nullopt;
    }
    orders::TOrderRequest order;
    order.Isin = in.Isin;
    order.Side = static_cast<orders::TSide>(in.Side);
    order.Qty = qty;
    order.Price = *price;
    order.Client = in.Client;
    return order;
}

std::string TicketConfirmText(const orders::TOrderRequest& order) {
    return "Выставить заявку: " + orders::DescribeOrder(order, FormatSettings().DecimalSeparator) +
           "?";
}

std::string PlaceOutcomeText(const orders::TPlaceResult& result) {
    switch (result.Status) {
    case orders::TPlaceStatus::Refused:
        return "Заявка отклонена: " + result.Reason;
    case orders::TPlaceStatus::Failed:
        return "Заявка не отправлена: " + result.Reason;
    case orders::TPlaceStatus::Posted:
        break;
    }
    return "Заявка отправлена, транзакция " + std::to_string(result.TrId) +
           ". Ожидается ответ биржи.";
}

bool IsRepeatRefusal(const orders::TPlaceResult& result) {
    return result.Status == orders::TPlaceStatus::Refused &&
           result.Reason.rfind("Такая же заявка", 0) == 0;
}

bool IsRepeatRefusal(const orders::TGateDecision& decision) {
    return !decision.Allowed && decision.Reason.rfind("Такая же заявка", 0) == 0;
}

std::string TicketPriceText(std::int64_t units) {
    return orders::FormatPrice(units, FormatSettings().DecimalSeparator);
}

std::string ReplyOutcomeText(const orders::TReply& reply) {
    if (reply.Code == 0 && reply.OrderId != 0) {
        return "Заявка принята биржей, номер заявки " + std::to_string(reply.OrderId) + ".";
    }
    const std::string_view text = GetReplyText(reply.Code);
    return "Биржа не приняла заявку: код " + std::to_string(reply.Code) +
           (text.empty() ? std::string() : " (" + std::string(text) + ")") + ".";
}

std::string TradingStateText(orders::TKillPhase phase,
                             const std::optional<orders::TKillReport>& report) {
    switch (phase) {
    case orders::TKillPhase::Armed:
        return {};
    case orders::TKillPhase::Cancelling:
        return "Торговля остановлена, заявки снимаются";
    case orders::TKillPhase::Halted:
        break;
    }
    if (report && !report->AllGone) {
        return "Торговля остановлена, снятие не подтверждено: " +
               std::to_string(report->Unconfirmed);
    }
    return "Торговля остановлена";
}

const std::array<const char*, kOwnOrderColumns>& OwnOrderCaptions() {
    static const std::array<const char*, kOwnOrderColumns> captions{
        "Номер", "Время",  "Инструмент", "Клиент",    "Операция",
        "Цена",  "Кол-во", "Остаток",    "Состояние", "Изменена"};
    return captions;
}

TOwnOrderRow OwnOrderRow(const orders::TOwnOrder& o, const orders::TRefFacts* ref) {
    TOwnOrderRow row;
    row.OrderId = o.OrderId;
    row.Active = o.Active();
    std::string isin = "?";
    if (ref != nullptr) {
        if (const auto it = ref->IsinById.find(o.IsinId); it != ref->IsinById.end()) {
            isin = it->second;
        }
    }
    const auto clock = [](std::int64_t ns) {
        return ns > 0 ? FormatClockTime(std::chrono::system_clock::time_point(
                            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                std::chrono::nanoseconds(ns))))
                      : std::string();
    };
    row.Buy = o.Side == orders::TSide::Buy;
    // Placed moments do not change as an order lives, so neither does its row's place.
    row.PlacedNs = o.FirstMomentNs > 0 ? o.FirstMomentNs : o.LastMomentNs;
    row.ChangedNs = o.LastMomentNs;
    row.Price = o.Price;
    row.Amount = o.Amount;
    row.Rest = o.Rest;
    row.Cells = {std::to_string(o.OrderId),
                 clock(row.PlacedNs),
                 isin,
                 o.Client,
                 row.Buy ? "Покупка" : "Продажа",
                 TicketPriceText(o.Price),
                 std::to_string(o.Amount),
                 std::to_string(o.Rest),
                 orders::StateText(o.State),
                 clock(row.ChangedNs)};
    return row;
}

std::vector<TOwnOrderRow> OwnOrderRows(const orders::TStoreFacts& facts, bool activeOnly) {
    std::vector<TOwnOrderRow> rows;
    for (const orders::TOwnOrder& o : facts.Own) {
        if (!activeOnly || o.Active()) {
            rows.push_back(OwnOrderRow(o, facts.Ref.get()));
        }
    }
    std::sort(rows.begin(), rows.end(), [](const TOwnOrderRow& a, const TOwnOrderRow& b) {
        return OwnOrderRowBefore(a, b, kOwnOrderColumns, true);
    });
    return rows;
}

namespace {

std::optional<std::int64_t> SortKey(const TOwnOrderRow& r, std::size_t column) {
    switch (column) {
    case 0:
        return r.OrderId;
    case 1:
        return r.PlacedNs;
    case 5:
        return r.Price;
    case 6:
        return r.Amount;
    case 7:
        return r.Rest;
    case kOwnOrderChangedColumn:
        return r.ChangedNs;
    default:
        return std::nullopt;
    }
}

// -1, 0 or 1 as `a` comes before, with or after `b` by the column alone.
int CompareByColumn(const TOwnOrderRow& a, const TOwnOrderRow& b, std::size_t column) {
    if (const auto ka = SortKey(a, column)) {
        const std::int64_t kb = *SortKey(b, column);
        return *ka < kb ? -1 : *ka > kb ? 1 : 0;
    }
    const int c = a.Cells[column].compare(b.Cells[column]);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

bool OwnOrderRowBefore(const TOwnOrderRow& a, const TOwnOrderRow& b, std::size_t column,
                       bool ascending) {
    if (column < kOwnOrderColumns) {
        if (const int c = CompareByColumn(a, b, column); c != 0) {
            return ascending ? c < 0 : c > 0;
        }
    }
    return a.PlacedNs != b.PlacedNs ? a.PlacedNs > b.PlacedNs : a.OrderId > b.OrderId;
}

void SortOwnOrderRows(std::vector<TOwnOrderRow>& rows, std::size_t column, bool ascending) {
    if (column >= kOwnOrderColumns)
        return;
    std::stable_sort(rows.begin(), rows.end(), [&](const TOwnOrderRow& a, const TOwnOrderRow& b) {
        const int c = CompareByColumn(a, b, column);
        return ascending ? c < 0 : c > 0;
    });
}

} // namespace vorlen
