// The exchange's replication tables and messages as this simulator serves them. Each table opens
// with "@name" (messages "@name id"); the lines after it list "field type" pairs separated by
// commas. Every replicated table gets the three service fields replID, replRev and replAct in
// front of the fields listed here. Stream lines start with "#": stream name, then its tables.

namespace vsim::text {

extern const char* const kTables;
extern const char* const kStreams;
extern const char* const kSchemeFiles;
extern const char* const kMessages;

const char* const kTables = R"(
@orders_log
public_order_id i8, sess_id i4, isin_id i4, public_amount i8, public_amount_rest i8, id_deal i8,
xstatus i8, xstatus2 i8, price d16.5, moment t, moment_ns u8, dir i1, public_action i1,
deal_price d16.5, client_code c7, login_from c20, comment c20, ext_id i4, broker_to c7,
broker_to_rts c7, broker_from_rts c7, date_exp t, id_ord1 i8, aspref i4, private_order_id i8,
private_amount i8, private_amount_rest i8, variance_amount i8, disclose_const_amount i8,
private_action i4, reason i4
@multileg_orders_log
public_order_id i8, sess_id i4, isin_id i4, public_amount i8, public_amount_rest i8, id_deal i8,
xstatus i8, xstatus2 i8, price d16.5, moment t, moment_ns u8, dir i1, public_action i1,
deal_price d16.5, rate_price d16.5, swap_price d16.5, client_code c7, login_from c20, comment c20,
ext_id i4, broker_to c7, broker_to_rts c7, broker_from_rts c7, date_exp t, id_ord1 i8, aspref i4,
private_order_id i8, private_amount i8, private_amount_rest i8, variance_amount i8,
disclose_const_amount i8, private_action i4, reason i4
@user_deal
sess_id i4, isin_id i4, id_deal i8, id_deal_multileg i8, id_repo i8, xpos i8, xamount i8,
public_order_id_buy i8, public_order_id_sell i8, price d16.5, moment t, moment_ns u8, nosystem i1,
xstatus_buy i8, xstatus_sell i8, xstatus2_buy i8, xstatus2_sell i8, ext_id_buy i4, ext_id_sell i4,
code_buy c7, code_sell c7, comment_buy c20, comment_sell c20, fee_buy d26.2, fee_sell d26.2,
login_buy c20, login_sell c20, code_rts_buy c7, code_rts_sell c7, private_order_id_buy i8,
private_order_id_sell i8, reason_buy i4, reason_sell i4
@user_multileg_deal
sess_id i4, isin_id i4, isin_id_rd i4, isin_id_rb i4, duration i4, id_deal i8, id_deal_rd i8,
id_deal_rb i8, public_order_id_buy i8, public_order_id_sell i8, xamount i8, price d16.5,
rate_price d16.5, swap_price d16.5, moment t, moment_ns u8, nosystem i1, xstatus_buy i8,
xstatus_sell i8, xstatus2_buy i8, xstatus2_sell i8, ext_id_buy i4, ext_id_sell i4, code_buy c7,
code_sell c7, comment_buy c20, comment_sell c20, login_buy c20, login_sell c20, code_rts_buy c7,
code_rts_sell c7, private_order_id_buy i8, private_order_id_sell i8, reason_buy i4, reason_sell i4
@heartbeat
server_time t
@sys_events
event_id i8, sess_id i4, event_type i4, message c64
@deal
sess_id i4, isin_id i4, id_deal i8, xpos i8, xamount i8, public_order_id_buy i8,
public_order_id_sell i8, price d16.5, moment t, moment_ns u8, nosystem i1
@multileg_deal
sess_id i4, isin_id i4, isin_id_rd i4, isin_id_rb i4, id_deal i8, id_deal_rd i8, id_deal_rb i8,
xamount i8, price d16.5, rate_price d16.5, swap_price d16.5, moment t, moment_ns u8, nosystem i1
@adjusted_fee
id_deal i8, moment t, code_buy c7, code_sell c7, initial_fee_buy d26.2, initial_fee_sell d26.2,
adjusted_fee_buy d26.2, adjusted_fee_sell d26.2, id_repo i8, id_deal_multileg i8
@penalty
id i4, broker_code c7, time_send t, fee d16.5, isin_id i4, points i4, order_count i4, moment t
@futures_rate
rate_id i4, curr_base c15, curr_coupled c15, radius d16.5
@option_rate
rate_id i4, curr_base c15, curr_coupled c15, radius d16.5
@broker_fee
sess_id i4, isin_id i4, client_code c7, fee d26.2, moment t
@broker_fee_params
code c7, isin_id i4, amount d16.5, percent d16.5
@orders
public_order_id i8, sess_id i4, client_code c7, moment t, moment_ns u8, xstatus i8, xstatus2 i8,
action i1, isin_id i4, dir i1, price d16.5, public_amount i8, public_amount_rest i8, comment c20,
ext_id i4, login_from c20, broker_to c7, date_exp t, id_ord1 i8, aspref i4, private_order_id i8,
private_amount i8, private_amount_rest i8
@info
infoID i8, logRev i8, lifeNum i4, moment t
@common
sess_id i4, isin_id i4, best_sell d16.5, amount_sell i4, best_buy d16.5, amount_buy i4,
price d16.5, trend d16.5, amount i4, deal_time t, deal_time_ns u8, min_price d16.5,
max_price d16.5, avr_price d16.5, old_kotir d16.5, deal_count i4, contr_count i4, capital d26.2,
pos i4, mod_time t, mod_time_ns u8, cur_kotir d16.5, cur_kotir_real d16.5, orders_sell_qty i4,
orders_sell_amount i4, orders_buy_qty i4, orders_buy_amount i4, open_price d16.5,
close_price d16.5, local_time t
@orders_aggr
isin_id i4, price d16.5, volume i8, moment t, moment_ns u8, dir i1, timestamp u8, sess_id i4
@rates
rate_id i4, curr_base c15, curr_coupled c15, radius d16.5
@fut_sess_contents
sess_id i4, isin_id i4, short_isin c25, isin c25, name c75, inst_term i4, code_vcb c25,
is_limited i1, limit_up d16.5, limit_down d16.5, old_kotir d16.5, buy_deposit d16.2,
sell_deposit d16.2, roundto i4, min_step d16.5, lot_volume i4, step_price d16.5, d_pg t,
is_spread i1, coeff d9.6, d_exp t, is_percent i1, percent_rate d6.2, last_cl_quote d16.5, signs i4,
is_trade_evening i4, ticker i4, state i4, price_dir i1, multileg_type i4, legs_qty i4,
step_price_clr d16.5, step_price_interclr d16.5, step_price_curr d16.5, d_start t,
base_contract_code c25
@fut_vcb
code_vcb c25, name c75, exec_type c1, curr c3, exch_pay d16.2, exch_pay_scalped i1,
clear_pay d16.2, clear_pay_scalped i1, sell_fee d7.3, buy_fee d7.3, trade_scheme c1, section c50,
exch_pay_spot d16.5, client_code c7, exch_pay_spot_repo d16.5, rate_id i4
@fut_instruments
isin_id i4, isin c25, short_isin c25, name c75, inst_term i4, code_vcb c25, is_limited i1,
old_kotir d16.5, roundto i4, min_step d16.5, lot_volume i4, step_price d16.5, d_pg t,
is_spread i1, coeff d9.6, d_exp t, is_percent i1, percent_rate d6.2, last_cl_quote d16.5, signs i4,
volat_min d20.15, volat_max d20.15, price_dir i1, multileg_type i4, legs_qty i4,
step_price_clr d16.5, step_price_interclr d16.5, step_price_curr d16.5, d_start t,
exch_pay d16.5, pctyield_coeff d16.5, pctyield_total d16.5
@fut_bond_registry
bond_id i4, small_name c25, short_isin c25, name c75, date_redempt t, nominal d16.5, bond_type i1,
year_base i2
@dealer
client_code c7, name c200, rts_code c50, status i4
@sys_messages
id i4, sess_id i4, lang_code c8, urgency i1, status i1, text c255, moment t, message_body c1000
@opt_sess_contents
sess_id i4, isin_id i4, isin c25, short_isin c25, name c75, code_vcb c25, fut_isin_id i4,
is_limited i1, limit_up d16.5, limit_down d16.5, old_kotir d16.5, bgo_c d16.2, bgo_nc d16.2,
europe i1, put i1, strike d16.5, roundto i4, min_step d16.5, lot_volume i4, step_price d16.5,
d_pg t, d_exec_beg t, d_exec_end t, signs i4, last_cl_quote d16.5, bgo_buy d16.2,
base_isin_id i4, d_start t, exch_pay d16.5, state i4
@opt_vcb
code_vcb c25, name c75, exec_type c1, curr c3, exch_pay d16.2, clear_pay d16.2, sell_fee d7.3,
buy_fee d7.3, trade_scheme c1, section c50, base_code c25
@multileg_dict
sess_id i4, isin_id i4, isin_id_leg i4, qty_ratio i4
@fut_rejected_orders
order_id i8, sess_id i4, moment t, moment_reject t, isin_id i4, dir i1, amount i4, price d16.5,
date_exp t, id_ord1 i8, ret_code i4, ret_message c255, comment c20, login_from c20, ext_id i4
@opt_rejected_orders
order_id i8, sess_id i4, moment t, moment_reject t, isin_id i4, dir i1, amount i4, price d16.5,
date_exp t, id_ord1 i8, ret_code i4, ret_message c255, comment c20, login_from c20, ext_id i4
@fut_intercl_info
isin_id i4, client_code c7, vm_intercl d16.2
@opt_intercl_info
isin_id i4, client_code c7, vm_intercl d16.2
@opt_exp_orders
exporder_id i4, client_code c7, isin_id i4, amount i4, sess_date t, login_from c20
@fut_bond_nkd
bond_id i4, date t, nkd d16.7, is_cupon i1
@fut_bond_nominal
bond_id i4, date t, nominal d16.5, face_value d16.5, coupon_nominal d8.5, is_nominal i1
@fut_bond_isin
isin_id i4, bond_id i4, coeff_conversion d5.4
@user
u_login c20, client_code c7, status i4, login_type i4
@sess_option_series
option_series_id i4, sess_id i4, settlement_price d16.5
@investor
client_code c7, name c200, status i4
@fut_margin_type
code c12, type i1, margin_type i1
@fut_settlement_account
code c7, type i1, settlement_account c12
@sma_master
client_code c7, master_login c20, sma_login c20
@sma_pre_trade_check
client_code c7, isin_id i4, max_amount i4, max_volume d26.2
@clearing_members
client_code c7, rts_code c50, status i4
@instr2matching_map
base_contract_id i4, matching_id i1
@fut_exec_orders
exec_order_id i8, client_code c7, isin_id i4, amount i4, moment t
@discrete_auction
discrete_auction_id i8, name c50, begin_time t, end_time t, status i1
@discrete_auction_base_contract
discrete_auction_id i8, base_contract_id i4
@session
sess_id i4, begin t, end t, state i4, opt_sess_id i4, inter_cl_begin t, inter_cl_end t,
eve_on i1, eve_begin t, eve_end t, mon_on i1, mon_begin t, mon_end t, pos_transfer_begin t,
pos_transfer_end t
@brokers_base_contracts_params
broker_code c7, code_vcb c25, limit_spot_buy i4, limit_spot_sell i4, used_limit_spot_buy i4,
used_limit_spot_sell i4
@volat_coeff
isin_id i4, a d16.10, b d16.10, c d16.10, d d16.10, e d16.10, s d16.10
@mm_agreement_filter
agmt_id i4, agreement c50, login c20, status i1
@fut_MM_info
isin_id i4, spread d16.5, price_edge_sell d16.5, amount_sells i4, price_edge_buy d16.5,
amount_buys i4, mm_spread d16.5, mm_amount i4, spread_sign i1, amount_sign i1,
percent_time d6.2, period_start t, period_end t, client_code c7, agmt_id i4
@opt_MM_info
isin_id i4, spread d16.5, price_edge_sell d16.5, amount_sells i4, price_edge_buy d16.5,
amount_buys i4, mm_spread d16.5, mm_amount i4, spread_sign i1, amount_sign i1,
percent_time d6.2, period_start t, period_end t, client_code c7, agmt_id i4
@cs_mm_rule
sess_id i4, client_code c7, isin_id i4
@rts_index
name c25, moment t, value d18.4, prev_close_value d18.4, open_value d18.4, max_value d18.4,
min_value d18.4, usd_rate d10.4, cap d18.4, volume d18.4
@volat
isin_id i4, volat d16.5, theor_price d16.5, theor_price_limit d16.5, up_prem d16.5,
down_prem d16.5
@currency_params
currency_id i4, radius d16.5, signs i4
@base_contracts_params
code_vcb c25, volat_num i1, points_num i1, subrisk_step d10.6, is_percent i1, percent_rate d16.5,
currency_volat d16.5, is_usd i1, usd_rate_curv_radius d16.5, somc d16.5
@option_series_params
option_series_id i4, volat_range d16.12, volat_min d16.12, volat_max d16.12
@options_params
isin_id i4, isin c25, volat d16.5, theor_price d16.5
@multileg_dictionary
isin_id i4, isin_id_leg i4, qty_ratio i4
@common_params
common_rev i4, interest_rate_risk_up d16.5, interest_rate_risk_down d16.5,
max_addrisk_size d16.2
@curr_online
rate_id i4, value d16.5, moment t
@part_sa_forecast
settlement_account c12, money_free d26.2, coeff_go d16.5
@position
client_code c7, isin_id i4, xpos i8, xbuys_qty i8, xsells_qty i8, xopen_qty i8, waprice d16.5,
net_volume_rur d26.2, last_deal_id i8, last_quantity i8, account_type i1
@position_sa
settlement_account c12, isin_id i4, xpos i8, xbuys_qty i8, xsells_qty i8, xopen_qty i8,
waprice d16.5, net_volume_rur d26.2, last_deal_id i8, last_quantity i8
@part
client_code c7, money_free d26.2, money_blocked d26.2, vm_reserve d26.2, fee d26.2,
limits_set d26.2, money_old d26.2, money_amount d26.2, money_pledge_amount d26.2,
vm_intercl d26.2, is_auto_update_limit i1, broker_fee d26.2, penalty d26.2,
premium_intercl d26.2, net_option_value d26.2, coeff_go d16.5, coeff_liquidity d16.5
@part_sa
settlement_account c12, money_old d26.2, money_amount d26.2, money_free d26.2,
money_blocked d26.2, pledge_old d26.2, pledge_amount d26.2, pledge_free d26.2,
pledge_blocked d26.2, vm_reserve d26.2, vm_intercl d26.2, fee d26.2, fee_reserve d26.2,
limit_pledge d26.2, coeff_go d16.5, coeff_liquidity d16.5, premium_intercl d26.2,
net_option_value d26.2
@prohibition
prohib_id i4, client_code c7, initiator i4, section c50, code_vcb c25, isin_id i4, priority i4,
group_mask i8, type i4, is_legacy i4, apply i4
@money_clearing
client_code c7, share i1, amount_beg d26.2, vm d26.2, premium d26.2, pay d26.2, fee_fut d26.2,
fee_opt d26.2, go d26.2, amount_end d26.2, free d26.2
@clr_rate
rate_id i4, moment t, rate d16.5, signs i1, sess_id i4
@fut_pos
sess_id i4, isin_id i4, client_code c7, account i1, pos_beg i8, pos_end i8, vm d16.5, fee d16.5,
accum_go d26.2
@opt_pos
sess_id i4, isin_id i4, client_code c7, account i1, pos_beg i8, pos_end i8, vm d16.5, fee d16.5,
accum_go d26.2
@fut_sess_settl
sess_id i4, date_clr t, isin c25, isin_id i4, settl_price d16.5
@opt_sess_settl
sess_id i4, date_clr t, isin c25, isin_id i4, volat d16.5, settl_price d16.5
@pledge_details
client_code c7, pledge_name c10, amount_beg d26.2, pay d26.2, amount d26.2, rate d16.5,
com_ensure i1
@money_clearing_sa
settlement_account c12, share i1, amount_beg d26.2, vm d26.2, premium d26.2, pay d26.2,
fee_fut d26.2, fee_opt d26.2, go d26.2, amount_end d26.2, free d26.2
@fut_pos_sa
sess_id i4, isin_id i4, settlement_account c12, pos_beg i8, pos_end i8, vm d16.5, fee d16.5
@opt_pos_sa
sess_id i4, isin_id i4, settlement_account c12, pos_beg i8, pos_end i8, vm d16.5, fee d16.5
@option_series_settl
option_series_id i4, sess_id i4, settl_price d16.5
@fut_vm
sess_id i4, isin_id i4, client_code c7, vm d16.5, vm_real d16.5
@opt_vm
sess_id i4, isin_id i4, client_code c7, vm d16.5, vm_real d16.5
@fut_vm_sa
sess_id i4, isin_id i4, settlement_account c12, vm d16.5, vm_real d16.5
@opt_vm_sa
sess_id i4, isin_id i4, settlement_account c12, vm d16.5, vm_real d16.5
@fee_tn
id i8, sess_id i4, client_code c7, isin_id i4, fee_tn d16.2, moment t
@fee_all
sess_id i4, client_code c7, fee_all d16.2, moment t
)";

const char* const kStreams = R"(
#FORTS_ORDLOG_REPL orders_log multileg_orders_log heartbeat sys_events
#FORTS_DEALS_REPL deal multileg_deal heartbeat sys_events
#FORTS_FEE_REPL adjusted_fee penalty sys_events
#FORTS_FEERATE_REPL futures_rate option_rate sys_events
#FORTS_BROKER_FEE_REPL broker_fee sys_events
#FORTS_BROKER_FEE_PARAMS_REPL broker_fee_params sys_events
#FORTS_ORDBOOK_REPL orders info
#FORTS_COMMON_REPL common sys_events
#FORTS_AGGR5_REPL orders_aggr
#FORTS_AGGR20_REPL orders_aggr
#FORTS_AGGR50_REPL orders_aggr
#FORTS_REFDATA_REPL rates fut_sess_contents fut_vcb fut_instruments fut_bond_registry dealer
 sys_messages opt_sess_contents opt_vcb multileg_dict fut_rejected_orders opt_rejected_orders
 fut_intercl_info opt_intercl_info opt_exp_orders fut_bond_nkd fut_bond_nominal fut_bond_isin
 user sess_option_series investor fut_margin_type fut_settlement_account sma_master
 sma_pre_trade_check clearing_members instr2matching_map fut_exec_orders discrete_auction
 discrete_auction_base_contract session brokers_base_contracts_params sys_events
#FORTS_MISCINFO_REPL volat_coeff
#FORTS_MM_REPL mm_agreement_filter fut_MM_info opt_MM_info cs_mm_rule
#RTS_INDEX_REPL rts_index
#FORTS_VOLAT_REPL volat sys_events
#FORTS_RISKINFOBLACK_REPL volat_coeff
#FORTS_RISKINFOBACH_REPL volat_coeff
#FORTS_INFO_REPL currency_params base_contracts_params option_series_params options_params
 investor dealer multileg_dictionary common_params brokers_base_contracts_params sys_events
#MOEX_RATES_REPL curr_online
#FORTS_FORECASTIM_REPL part_sa_forecast
#FORTS_TRADE_REPL orders_log multileg_orders_log user_deal user_multileg_deal heartbeat sys_events
#FORTS_USERORDERBOOK_REPL orders info
#FORTS_POS_REPL position position_sa sys_events
#FORTS_PART_REPL part part_sa sys_events
#FORTS_PROHIBITION_REPL prohibition sys_events
#FORTS_CLR_REPL money_clearing clr_rate fut_pos opt_pos fut_sess_settl opt_sess_settl
 pledge_details money_clearing_sa fut_pos_sa opt_pos_sa option_series_settl sys_events
#FORTS_VM_REPL fut_vm opt_vm fut_vm_sa opt_vm_sa sys_events
#FORTS_TNPENALTY_REPL fee_tn fee_all heartbeat
#FORTS_USER_REPL user sma_master sma_pre_trade_check sys_events
)";

// Scheme files of the installation and the streams whose tables each describes.
const char* const kSchemeFiles = R"(
#ordLog_trades.ini FORTS_ORDLOG_REPL
#deals.ini FORTS_DEALS_REPL
#fee.ini FORTS_FEE_REPL FORTS_FEERATE_REPL
#brokerfee.ini FORTS_BROKER_FEE_REPL
#brokerfeeparams.ini FORTS_BROKER_FEE_PARAMS_REPL
#ordbook.ini FORTS_ORDBOOK_REPL
#common.ini FORTS_COMMON_REPL
#orders_aggr.ini FORTS_AGGR5_REPL
#refdata.ini FORTS_REFDATA_REPL
#miscinfo.ini FORTS_MISCINFO_REPL
#mm.ini FORTS_MM_REPL
#rts_index.ini RTS_INDEX_REPL
#volat.ini FORTS_VOLAT_REPL
#riskinfo_black.ini FORTS_RISKINFOBLACK_REPL
#riskinfo_bach.ini FORTS_RISKINFOBACH_REPL
#info.ini FORTS_INFO_REPL
#rates.ini MOEX_RATES_REPL
#forecastim.ini FORTS_FORECASTIM_REPL
#trades.ini FORTS_TRADE_REPL
#userorderbook.ini FORTS_USERORDERBOOK_REPL
#pos.ini FORTS_POS_REPL
#part.ini FORTS_PART_REPL
#prohibition.ini FORTS_PROHIBITION_REPL
#clr.ini FORTS_CLR_REPL
#vm.ini FORTS_VM_REPL
#tnpenalty.ini FORTS_TNPENALTY_REPL
#user.ini FORTS_USER_REPL
)";

// The message service: requests first, then the replies. Text widths of the requests stay
// within the terminal's fixed order record, whose fields are copied by the scheme's sizes.
const char* const kMessages = R"(
@AddOrder 64
broker_code c4, isin_id i4, client_code c3, type i4, dir i4, amount i4, price c17, comment c20,
broker_to c20, ext_id i4, is_check_limit i4, date_exp c8, dont_check_money i4, match_ref c10,
ncc_request i1
@DelOrder 37
broker_code c4, order_id i8, client_code c3, isin_id i4
@FORTS_MSG101 101
code i4, message c255, order_id i8
@FORTS_MSG102 102
code i4, message c255, amount i4
@FORTS_MSG99 99
queue_size i4, penalty_remain i4, message c128
@FORTS_MSG100 100
code i4, message c255
)";

} // namespace vsim::text
