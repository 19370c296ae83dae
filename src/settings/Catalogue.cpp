#include "settings/Catalogue.h"

#include <algorithm>

namespace vorlen {

const TCatalogue& StreamCatalogue() {
    static const TCatalogue catalogue = {
        {kMarketDataGroup,
         {
             {"FORTS_ORDLOG_REPL",
              {"orders_log", "multileg_orders_log", "heartbeat", "sys_events"}},
             {"FORTS_DEALS_REPL", {"deal", "multileg_deal", "heartbeat", "sys_events"}},
             {"FORTS_FEE_REPL", {"adjusted_fee", "penalty", "sys_events"}},
             {"FORTS_FEERATE_REPL", {"futures_rate", "option_rate", "sys_events"}},
             {"FORTS_BROKER_FEE_REPL", {"broker_fee", "sys_events"}},
             {"FORTS_BROKER_FEE_PARAMS_REPL", {"broker_fee_params", "sys_events"}},
             {"FORTS_ORDBOOK_REPL", {"orders", "info"}},
             {"FORTS_COMMON_REPL", {"common", "sys_events"}},
             {"FORTS_AGGR5_REPL", {"orders_aggr"}},
             {"FORTS_AGGR20_REPL", {"orders_aggr"}},
             {"FORTS_AGGR50_REPL", {"orders_aggr"}},
             {"FORTS_REFDATA_REPL",
              {"rates",
               "fut_sess_contents",
               "fut_vcb",
               "fut_instruments",
               "fut_bond_registry",
               "dealer",
               "sys_messages",
               "opt_sess_contents",
               "opt_vcb",
               "multileg_dict",
               "fut_rejected_orders",
               "opt_rejected_orders",
               "fut_intercl_info",
               "opt_intercl_info",
               "opt_exp_orders",
               "fut_bond_nkd",
               "fut_bond_nominal",
               "fut_bond_isin",
               "user",
               "sess_option_series",
               "investor",
               "fut_margin_type",
               "fut_settlement_account",
               "sma_master",
               "sma_pre_trade_check",
               "clearing_members",
               "instr2matching_map",
               "fut_exec_orders",
               "discrete_auction",
               "discrete_auction_base_contract",
               "session",
               "brokers_base_contracts_params",
               "sys_events"}},
             {"FORTS_MISCINFO_REPL", {"volat_coeff"}},
             {"FORTS_MM_REPL", {"mm_agreement_filter", "fut_MM_info", "opt_MM_info", "cs_mm_rule"}},
             {"RTS_INDEX_REPL", {"rts_index"}},
             {"FORTS_VOLAT_REPL", {"volat", "sys_events"}},
             {"FORTS_RISKINFOBLACK_REPL", {"volat_coeff"}},
             {"FORTS_RISKINFOBACH_REPL", {"volat_coeff"}},
             {"FORTS_INFO_REPL",
              {"currency_params", "base_contracts_params", "option_series_params", "options_params",
               "investor", "dealer", "multileg_dictionary", "common_params",
               "brokers_base_contracts_params", "sys_events"}},
             {"MOEX_RATES_REPL", {"curr_online"}},
             {"FORTS_FORECASTIM_REPL", {"part_sa_forecast"}},
         }},
        {kPersonalDataGroup,
         {
             {"FORTS_TRADE_REPL",
              {"orders_log", "multileg_orders_log", "user_deal", "user_multileg_deal", "heartbeat",
               "sys_events"}},
             {"FORTS_USERORDERBOOK_REPL", {"orders", "info"}},
             {"FORTS_POS_REPL", {"position", "position_sa", "sys_events"}},
             {"FORTS_PART_REPL", {"part", "part_sa", "sys_events"}},
             {"FORTS_PROHIBITION_REPL", {"prohibition", "sys_events"}},
             {"FORTS_CLR_REPL",
              {"money_clearing", "clr_rate", "fut_pos", "opt_pos", "fut_sess_settl",
               "opt_sess_settl", "pledge_details", "money_clearing_sa", "fut_pos_sa", "opt_pos_sa",
               "option_series_settl", "sys_events"}},
             {"FORTS_VM_REPL", {"fut_vm", "opt_vm", "fut_vm_sa", "opt_vm_sa", "sys_events"}},
             {"FORTS_TNPENALTY_REPL", {"fee_tn", "fee_all", "heartbeat"}},
             {"FORTS_USER_REPL", {"user", "sma_master", "sma_pre_trade_check", "sys_events"}},
         }},
    };
    return catalogue;
}

namespace {

constexpr std::string_view kFuturesStreams[] = {
    "FORTS_ORDLOG_REPL",       "FORTS_DEALS_REPL",    "FORTS_ORDBOOK_REPL",
    "FORTS_COMMON_REPL",       "FORTS_MISCINFO_REPL", "FORTS_MM_REPL",
    "RTS_INDEX_REPL",          "FORTS_VOLAT_REPL",    "FORTS_RISKINFOBLACK_REPL",
    "FORTS_RISKINFOBACH_REPL", "MOEX_RATES_REPL",     "FORTS_FORECASTIM_REPL",
    "FORTS_CLR_REPL",          "FORTS_VM_REPL",       "FORTS_TNPENALTY_REPL",
    "FORTS_USER_REPL"};

constexpr std::string_view kFuturesTables[] = {"rates",
                                               "dealer",
                                               "option_rate",
                                               "opt_sess_contents",
                                               "opt_vcb",
                                               "opt_rejected_orders",
                                               "opt_intercl_info",
                                               "opt_exp_orders",
                                               "sess_option_series",
                                               "opt_pos",
                                               "opt_sess_settl",
                                               "opt_pos_sa",
                                               "option_series_settl",
                                               "opt_vm",
                                               "opt_vm_sa",
                                               "option_series_params",
                                               "sys_events",
                                               "options_params"};

constexpr std::string_view kOptionsStreams[] = {
    "FORTS_ORDLOG_REPL",  "FORTS_DEALS_REPL",      "FORTS_FEE_REPL",
    "FORTS_FEERATE_REPL", "FORTS_BROKER_FEE_REPL", "FORTS_BROKER_FEE_PARAMS_REPL",
    "FORTS_ORDBOOK_REPL", "FORTS_MM_REPL",         "RTS_INDEX_REPL",
    "MOEX_RATES_REPL",    "FORTS_USER_REPL"};

constexpr std::string_view kOptionsTables[] = {
    "rates",   "futures_rate",        "fut_sess_contents",
    "fut_vcb", "fut_rejected_orders", "fut_intercl_info",
    "fut_pos", "fut_sess_settl",      "fut_pos_sa",
    "fut_vm",  "fut_vm_sa",           "sys_events"};

constexpr TMarketPreset kFuturesPreset{kFuturesStreams, kFuturesTables};
constexpr TMarketPreset kOptionsPreset{kOptionsStreams, kOptionsTables};

} // namespace

const TMarketPreset* MarketPreset(int market) {
    switch (market) {
    case kMarketFutures:
        return &kFuturesPreset;
    case kMarketOptions:
        return &kOptionsPreset;
    default:
        return nullptr;
    }
}

bool Contains(std::span<const std::string_view> names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace vorlen
