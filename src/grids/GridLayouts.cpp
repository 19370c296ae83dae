#include "grids/GridLayouts.h"

#include "store/KeyTables.h"

#include <string>

namespace vorlen {

namespace {

constexpr std::array<TGridColumn, 15> kAccColumns{{
    {"Код клиента", "client_code"},
    {"Своб. средства", "money_free"},
    {"Забл. под ГО", "money_blocked"},
    {"ВМ резерв", "vm_reserve"},
    {"Спис. сбор", "fee"},
    {"Уст. лимит", "limits_set"},
    {"Ост. пред. сессии", "money_old"},
    {"Всего средств", "money_amount"},
    {"Залоги", "money_pledge_amount"},
    {"ВМ клиринг", "vm_intercl"},
    {"Корр. лимита", "is_auto_update_limit"},
    {"Блок. ком. брокера", "broker_fee"},
    {"Штрафы", "penalty"},
    {"Опц. премия дневн. клиринга", "premium_intercl"},
    {"Сумм. оцен. стоим. опционов", "net_option_value"},
}};

constexpr std::array<TGridColumn, 31> kOrdersColumns{{
    {"ID заявки", "public_order_id"},
    {"ID сессии", "sess_id"},
    {"ID инструмента", "isin_id"},
    {"Кол-во контр. в операции", "public_amount"},
    {"Оставшееся кол-во контр. в заявке", "public_amount_rest"},
    {"ID сделки по данной записи журнала заявок", "id_deal"},
    {"Расширенный статус заявки", "xstatus"},
    {"Расширение для статусов заявок", "xstatus2"},
    {"Цена", "price"},
    {"Время изменения состояния заявки", "moment"},
    {"Время изменения состояния заявки (нсек)", "moment_ns"},
    {"Направление", "dir"},
    {"Действие с заявкой", "public_action"},
    {"Цена заключенной сделки", "deal_price"},
    {"Код клиента", "client_code"},
    {"Логин пользователя, поставившего заявку", "login_from"},
    {"Комментарий трейдера", "comment"},
    {"Внешний номер", "ext_id"},
    {"Код SPECTRA фирмы-адресата внесистемной заявки", "broker_to"},
    {"Код РТС фирмы-адресата внесистемной заявки", "broker_to_rts"},
    {"Код РТС фирмы - владельца заявки", "broker_from_rts"},
    {"Дата истечения заявки", "date_exp"},
    {"Номер первой заявки", "id_ord1"},
    {"ID пользователя. Для заявок, поданных от SMA-логина - ID MASTER-логина", "aspref"},
    {"Приватный номер заявки", "private_order_id"},
    {"Кол-во контр. в операции", "private_amount"},
    {"Оставшееся кол-во контр. в заявке", "private_amount_rest"},
    {"Амплитуда отклонения (в контрактах)", "variance_amount"},
    {"Кол-во единиц инструмента в постоянной составляющей всплывающей части айсберг-заявки",
     "disclose_const_amount"},
    {"Действие с заявкой", "private_action"},
    {"Признак (причина) заявки", "reason"},
}};

constexpr std::array<TGridColumn, 33> kMLOrdersColumns{{
    {"ID заявки", "public_order_id"},
    {"ID сессии", "sess_id"},
    {"ID инстр.- связки", "isin_id"},
    {"Количество контрактов в операции", "public_amount"},
    {"Оставшееся количество контрактов в заявке", "public_amount_rest"},
    {"ID сделки по данной записи журнала заявок", "id_deal"},
    {"Расширенный статус заявки", "xstatus"},
    {"Расширение для статусов заявок", "xstatus2"},
    {"Цена. (Поле не используется)", "price"},
    {"Время изменения состояния заявки", "moment"},
    {"Время изменения состояния заявки (нсек)", "moment_ns"},
    {"Направление", "dir"},
    {"Действие с заявкой", "public_action"},
    {"Цена первой ноги заключенной сделки", "deal_price"},
    {"Ставка заявки. (Поле не используется)", ""}, // no field: the column stays empty
    {"Своп-цена заявки", ""},                      // no field: the column stays empty
    {"Код клиента", "client_code"},
    {"Логин пользователя, поставившего заявку", "login_from"},
    {"Комментарий трейдера", "comment"},
    {"Внешний номер", "ext_id"},
    {"Код SPECTRA фирмы-адресата внесистемной заявки", "broker_to"},
    {"Код РТС фирмы-адресата внесистемной заявки", "broker_to_rts"},
    {"Код РТС фирмы - владельца заявки", "broker_from_rts"},
    {"Дата истечения заявки", "date_exp"},
    {"Номер первой заявки", "id_ord1"},
    {"ID пользователя. Для заявок, поданных от SMA-логина - ID MASTER-логина", "aspref"},
    {"Приватный ID заявки", "private_order_id"},
    {"Количество контрактов в операции", "private_amount"},
    {"Оставшееся количество контрактов в заявке", "private_amount_rest"},
    {"Амплитуда отклонения (в контрактах)", "variance_amount"},
    {"Кол-во единиц инструмента в постоянной составляющей всплывающей части айсберг-заявки",
     "disclose_const_amount"},
    {"Действие с заявкой", "private_action"},
    {"Признак (причина) заявки", "reason"},
}};

constexpr std::array<TGridColumn, 33> kDealsColumns{{
    {"ID торговой сессии", "sess_id"},
    {"ID инструмента", "isin_id"},
    {"Номер сделки", "id_deal"},
    {"Номер сделки по связке", "id_deal_multileg"},
    {"Номер сделки по другой ноге", "id_repo"},
    {"Кол-во позиций по инструменту на рынке после сделки", "xpos"},
    {"Объем, количество единиц инструмента", "xamount"},
    {"ID заявки покупателя", "public_order_id_buy"},
    {"ID заявки продавца", "public_order_id_sell"},
    {"Цена", "price"},
    {"Время заключения сделки", "moment"},
    {"Время заключения сделки (нсек)", "moment_ns"},
    {"Признак внесистемной сделки", "nosystem"},
    {"Статус сделки со стороны покупателя", "xstatus_buy"},
    {"Статус сделки со стороны продавца", "xstatus_sell"},
    {"Расширение для статусов сделок (в дополнение к полю xstatus_buy)", "xstatus2_buy"},
    {"Расширение для статусов сделок (в дополнение к полю xstatus_sell)", "xstatus2_sell"},
    {"Внешний номер из заявки покупателя", "ext_id_buy"},
    {"Внешний номер из заявки продавца", "ext_id_sell"},
    {"Код покупателя", "code_buy"},
    {"Код продавца", "code_sell"},
    {"Комментарий из заявки покупателя", "comment_buy"},
    {"Комментарий из заявки продавца", "comment_sell"},
    {"Сбор по сделке покупателя", "fee_buy"},
    {"Сбор по сделке продавца", "fee_sell"},
    {"Логин пользователя покупателя", "login_buy"},
    {"Логин пользователя продавца", "login_sell"},
    {"Код РТС фирмы покупателя", "code_rts_buy"},
    {"Код РТС фирмы продавца", "code_rts_sell"},
    {"ID заявки покупателя (для айсбергов - идентификатор всей айсберг-заявки покупателя)",
     "private_order_id_buy"},
    {"ID заявки продавца (для айсбергов - идентификатор всей айсберг-заявки продавца)",
     "private_order_id_sell"},
    {"Признак (причина) сделки урегулирования покупателя", "reason_buy"},
    {"Признак (причина) сделки урегулирования продавца", "reason_sell"},
}};

constexpr std::array<TGridColumn, 35> kMLDealsColumns{{
    {"ID сессии", "sess_id"},
    {"ID инструмента-связки", "isin_id"},
    {"ID инструмента первой ноги", "isin_id_rd"},
    {"ID инструмента второй ноги", "isin_id_rb"},
    {"Разница в календарных днях между датами исполнения двух фьючерсов", "duration"},
    {"Номер сделки по связке", "id_deal"},
    {"ID сделки по первой ноге", "id_deal_rd"},
    {"ID сделки по второй ноге", "id_deal_rb"},
    {"ID заявки покупателя (для айсбергов - номер видимой части айсберг-заявки покупателя)",
     "public_order_id_buy"},
    {"ID заявки продавца (для айсбергов - номер видимой части айсберг-заявки продавца)",
     "public_order_id_sell"},
    {"Объем, количество единиц инструмента", "xamount"},
    {"Цена первой части парной связки", "price"},
    {"Ставка сделки", "rate_price"},
    {"Своп-цена сделки", "swap_price"},
    {"Время заключения сделки", "moment"},
    {"Время заключения сделки (нсек)", "moment_ns"},
    {"Признак внесистемной сделки", "nosystem"},
    {"Расширенный статус сделки со стороны покупателя", "xstatus_buy"},
    {"Расширенный статус сделки со стороны продавца", "xstatus_sell"},
    {"Расширение для статусов сделок (в дополнение к полю xstatus_buy)", "xstatus2_buy"},
    {"Расширение для статусов сделок (в дополнение к полю xstatus_sell)", "xstatus2_sell"},
    {"Внешний номер из заявки покупателя", "ext_id_buy"},
    {"Внешний номер из заявки продавца", "ext_id_sell"},
    {"Код покупателя", "code_buy"},
    {"Код продавца", "code_sell"},
    {"Комментарий из заявки покупателя", "comment_buy"},
    {"Комментарий из заявки продавца", "comment_sell"},
    {"Логин пользователя покупателя", "login_buy"},
    {"Логин пользователя продавца", "login_sell"},
    {"Код РТС фирмы покупателя", "code_rts_buy"},
    {"Код РТС фирмы продавца", "code_rts_sell"},
    {"ID заявки покупателя (для айсбергов - идентификатор всей айсберг-заявки покупателя)",
     "private_order_id_buy"},
    {"ID заявки продавца (для айсбергов - идентификатор всей айсберг-заявки продавца)",
     "private_order_id_sell"},
    {"Признак (причина) сделки урегулирования покупателя", "reason_buy"},
    {"Признак (причина) сделки урегулирования продавца", "reason_sell"},
}};

constexpr std::array<TGridColumn, 11> kPositionsColumns{{
    {"Код клиента", "client_code"},
    {"ID инструмента", "isin_id"},
    {"Тек. позиция", "xpos"},
    {"Кол-о купл. контр. в ходе сессии", "xbuys_qty"},
    {"Кол-о прод. контр. в ходе сессии", "xsells_qty"},
    {"Кол-во поз. на начало сессии", "xopen_qty"},
    {"Учетная цена позиции", "waprice"},
    {"Нетто-оборот по сделкам за сессию", "net_volume_rur"},
    {"Номер последней сделки", "last_deal_id"},
    {"Объем позиции на момент окончания промеж. или веч. клиринга", "last_quantity"},
    {"Тип счета", "account_type"},
}};

// A grid shows the key table of its own number.
constexpr TGridLayout Layout(std::string_view name, std::string_view caption, int grid,
                             TGridFilter filter, std::span<const TGridColumn> columns) noexcept {
    const TKeyTableRef& key = kKeyTableRefs[static_cast<std::size_t>(grid)];
    return {name, caption, key.Stream, key.Table, grid, filter, columns};
}

constexpr std::array<TGridLayout, kGridCount> kLayouts{{
    Layout("AccGrid", "Счет", kAccGrid, TGridFilter::None, kAccColumns),
    Layout("OrdersGrid", "Ордера", kOrdersGrid, TGridFilter::Orders, kOrdersColumns),
    Layout("MLOrdersGrid", "Составные ордера", kMLOrdersGrid, TGridFilter::MLOrders,
           kMLOrdersColumns),
    Layout("DealsGrid", "Сделки", kDealsGrid, TGridFilter::None, kDealsColumns),
    Layout("MLDealsGrid", "Составные сделки", kMLDealsGrid, TGridFilter::None, kMLDealsColumns),
    Layout("PositionsGrid", "Позиции", kPositionsGrid, TGridFilter::None, kPositionsColumns),
}};

static_assert(kAccGrid == kKeyTablePart && kOrdersGrid == kKeyTableOrders &&
              kMLOrdersGrid == kKeyTableMLOrders && kDealsGrid == kKeyTableDeals &&
              kMLDealsGrid == kKeyTableMLDeals && kPositionsGrid == kKeyTablePositions);

} // namespace

const std::array<TGridLayout, kGridCount>& GridLayouts() {
    return kLayouts;
}

const TGridLayout& GridLayout(int grid) {
    return kLayouts.at(static_cast<std::size_t>(grid));
}

std::array<std::string_view, kGridCount + 1> PageCaptions() {
    std::array<std::string_view, kGridCount + 1> pages{};
    for (std::size_t i = 0; i < kLayouts.size(); ++i)
        pages[i] = kLayouts[i].PageCaption;
    pages[kGridCount] = kJournalPageCaption;
    return pages;
}

int ColumnWidth(std::string_view caption, const TTextWidthFn& measure) {
    std::string text(caption);
    text += "11";
    return measure(text);
}

std::vector<int> ColumnWidths(const TGridLayout& layout, const TTextWidthFn& measure) {
    std::vector<int> widths;
    widths.reserve(layout.Columns.size());
    for (const auto& column : layout.Columns)
        widths.push_back(ColumnWidth(column.Caption, measure));
    return widths;
}

} // namespace vorlen
