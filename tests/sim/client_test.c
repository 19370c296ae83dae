/*
 * The gateway library as the terminal sees it: loaded by path, every entry point bound by name,
 * talking to a router started for this test on free ports. Written in C so that nothing but the
 * C interface of GatewayCInterface.h is used.
 *
 * Usage: sim_client_test <installation folder>
 */
#include "client_os.h"
#include "gateway/GatewayCInterface.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <direct.h>
#define chdir _chdir
#else
#include <unistd.h>
#endif

/* ---- entry points ---- */

static struct {
    cg_env_open_t env_open;
    cg_env_close_t env_close;
    cg_conn_new_t conn_new;
    cg_conn_destroy_t conn_destroy;
    cg_conn_open_t conn_open;
    cg_conn_close_t conn_close;
    cg_conn_getstate_t conn_getstate;
    cg_conn_process_t conn_process;
    cg_lsn_new_t lsn_new;
    cg_lsn_destroy_t lsn_destroy;
    cg_lsn_getstate_t lsn_getstate;
    cg_lsn_open_t lsn_open;
    cg_lsn_close_t lsn_close;
    cg_lsn_getscheme_t lsn_getscheme;
    cg_pub_new_t pub_new;
    cg_pub_destroy_t pub_destroy;
    cg_pub_open_t pub_open;
    cg_pub_close_t pub_close;
    cg_pub_getstate_t pub_getstate;
    cg_pub_getscheme_t pub_getscheme;
    cg_pub_msgnew_t pub_msgnew;
    cg_pub_msgfree_t pub_msgfree;
    cg_pub_post_t pub_post;
    cg_err_getstr_t err_getstr;
    cg_log_tracestr_t log_tracestr;
    cg_log_debugstr_t log_debugstr;
    cg_log_infostr_t log_infostr;
    cg_log_errorstr_t log_errorstr;
    cg_log_warningstr_t log_warningstr;
    cg_msg_dump_t msg_dump;
    cg_bcd_get_t bcd_get;
    cg_getstr_t getstr;
    cg_env_getcomp_ver_t env_getcomp_ver;
    cg_env_register_exithandler_t env_register_exithandler;
} cg;

static const char* const kNames[34] = {"cg_env_open",        "cg_env_close",
                                       "cg_conn_new",        "cg_conn_destroy",
                                       "cg_conn_open",       "cg_conn_close",
                                       "cg_conn_getstate",   "cg_conn_process",
                                       "cg_lsn_new",         "cg_lsn_destroy",
                                       "cg_lsn_getstate",    "cg_lsn_open",
                                       "cg_lsn_close",       "cg_lsn_getscheme",
                                       "cg_pub_new",         "cg_pub_destroy",
                                       "cg_pub_open",        "cg_pub_close",
                                       "cg_pub_getstate",    "cg_pub_getscheme",
                                       "cg_pub_msgnew",      "cg_pub_msgfree",
                                       "cg_pub_post",        "cg_err_getstr",
                                       "cg_log_tracestr",    "cg_log_debugstr",
                                       "cg_log_infostr",     "cg_log_errorstr",
                                       "cg_log_warningstr",  "cg_msg_dump",
                                       "cg_bcd_get",         "cg_getstr",
                                       "cg_env_getcomp_ver", "cg_env_register_exithandler"};

/* ---- reporting ---- */

static int failures = 0;

static void check(int ok, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    fputs(ok ? "ok:   " : "FAIL: ", ok ? stdout : stderr);
    vfprintf(ok ? stdout : stderr, fmt, args);
    fputc('\n', ok ? stdout : stderr);
    va_end(args);
    if (!ok) {
        ++failures;
    }
}

/* ---- listeners ---- */

typedef struct {
    const char* settings;
    cg_listener_t* lsn;
    uint32_t life;
    int opened, closed, online, rows, lifenums, flags_zero;
    cg_scheme_desc_t* scheme;
    int fut_rows, fut_complete;
    int32_t fut_isin_id;
    char fut_isin[32];
    int64_t fut_price;
    int8_t fut_scale;
} Stream;

typedef struct {
    cg_listener_t* lsn;
    cg_scheme_desc_t* scheme;
    int opened, replies, timeouts;
    uint32_t user_id;
    int32_t code;
    int64_t order_id;
    char name[64];
} Replies;

static cg_message_desc_t* message_at(cg_scheme_desc_t* s, size_t index) {
    cg_message_desc_t* m = s ? s->messages : NULL;
    while (m != NULL && index-- > 0) {
        m = m->next;
    }
    return m;
}

static cg_message_desc_t* message_named(cg_scheme_desc_t* s, const char* name) {
    cg_message_desc_t* m = s ? s->messages : NULL;
    while (m != NULL && strcmp(m->name, name) != 0) {
        m = m->next;
    }
    return m;
}

static cg_field_desc_t* field_named(cg_message_desc_t* m, const char* name) {
    cg_field_desc_t* f = m ? m->fields : NULL;
    while (f != NULL && strcmp(f->name, name) != 0) {
        f = f->next;
    }
    return f;
}

static int32_t read_i4(const void* data, cg_field_desc_t* f) {
    int32_t v = 0;
    memcpy(&v, (const char*)data + f->offset, sizeof v);
    return v;
}

static uint32_t CG_CALL on_stream(cg_conn_t* conn, cg_listener_t* lsn, struct cg_msg_t* msg,
                                  void* data) {
    Stream* s = (Stream*)data;
    (void)conn;
    switch (msg->type) {
    case CG_MSG_OPEN:
        ++s->opened;
        if (cg.lsn_getscheme(lsn, &s->scheme) != 0) {
            s->scheme = NULL;
        }
        break;
    case CG_MSG_CLOSE:
        ++s->closed;
        s->online = 0;
        break;
    case CG_MSG_P2REPL_LIFENUM: {
        const cg_data_lifenum_t* ln = (const cg_data_lifenum_t*)msg->data;
        s->life = ln->life_number;
        s->flags_zero += ln->flags != 1;
        ++s->lifenums;
        break;
    }
    case CG_MSG_P2REPL_ONLINE:
        s->online = 1;
        break;
    case CG_MSG_STREAM_CHANGED: {
        cg_msg_streamdata_t* row = (cg_msg_streamdata_t*)msg;
        cg_message_desc_t* m = message_at(s->scheme, row->msg_index);
        ++s->rows;
        if (m != NULL && strcmp(m->name, "fut_sess_contents") == 0) {
            cg_field_desc_t* isin = field_named(m, "isin");
            cg_field_desc_t* id = field_named(m, "isin_id");
            cg_field_desc_t* shrt = field_named(m, "short_isin");
            cg_field_desc_t* name = field_named(m, "name");
            cg_field_desc_t* price = field_named(m, "old_kotir");
            const char* base = (const char*)row->data;
            int64_t mantissa = 0;
            int8_t scale = 0;
            ++s->fut_rows;
            if (isin && id && shrt && name && price && strcmp(id->fild_type, "i4") == 0 &&
                base[isin->offset] != '\0' && base[shrt->offset] != '\0' &&
                base[name->offset] != '\0' && read_i4(base, id) > 0 &&
                cg.bcd_get(base + price->offset, &mantissa, &scale) == 0 && mantissa > 0 &&
                strstr(base + isin->offset, "_CLT") == NULL) {
                ++s->fut_complete;
                s->fut_price = mantissa;
                s->fut_scale = scale;
                s->fut_isin_id = read_i4(base, id);
                strncpy(s->fut_isin, base + isin->offset, sizeof s->fut_isin - 1);
            }
        }
        break;
    }
    default:
        break;
    }
    return 0;
}

static uint32_t CG_CALL on_reply(cg_conn_t* conn, cg_listener_t* lsn, struct cg_msg_t* msg,
                                 void* data) {
    Replies* r = (Replies*)data;
    (void)conn;
    if (msg->type == CG_MSG_OPEN) {
        ++r->opened;
        cg.lsn_getscheme(lsn, &r->scheme);
    } else if (msg->type == CG_MSG_DATA) {
        cg_msg_data_t* d = (cg_msg_data_t*)msg;
        cg_message_desc_t* m = message_named(r->scheme, d->msg_name);
        cg_field_desc_t* code = field_named(m, "code");
        cg_field_desc_t* order = field_named(m, "order_id");
        ++r->replies;
        r->user_id = d->user_id;
        strncpy(r->name, d->msg_name, sizeof r->name - 1);
        r->code = code ? read_i4(d->data, code) : -1;
        r->order_id = 0;
        if (order != NULL) {
            memcpy(&r->order_id, (const char*)d->data + order->offset, sizeof r->order_id);
        }
    } else if (msg->type == CG_MSG_P2MQ_TIMEOUT) {
        ++r->timeouts;
    }
    return 0;
}

/* One pass of the terminal's connection loop: closed is opened, error is closed, active is
 * processed and its listeners kept open. */
static uint32_t pass(cg_conn_t* conn, Stream* s, int n, uint32_t* seen) {
    uint32_t st = 99, ls = 0;
    int i;
    char open[64];
    if (cg.conn_getstate(conn, &st) != 0) {
        return st;
    }
    if (seen != NULL) {
        seen[st & 3] = 1;
    }
    if (st == CG_STATE_CLOSED) {
        cg.conn_open(conn, NULL);
    } else if (st == CG_STATE_ERROR) {
        cg.conn_close(conn);
    } else if (st == CG_STATE_ACTIVE) {
        uint32_t r = cg.conn_process(conn, 1, NULL);
        if (r != 0 && r != CG_ERR_TIMEOUT) {
            check(0, "cg_conn_process answered 0x%x", r);
        }
        for (i = 0; i < n; ++i) {
            if (cg.lsn_getstate(s[i].lsn, &ls) != 0) {
                continue;
            }
            if (ls == CG_STATE_CLOSED) {
                snprintf(open, sizeof open, "lifinum=%u", s[i].life);
                cg.lsn_open(s[i].lsn, open);
            } else if (ls == CG_STATE_ERROR) {
                cg.lsn_close(s[i].lsn);
            }
        }
    } else {
        sleep_ms(1);
    }
    return st;
}

static int all_online(Stream* s, int n) {
    int i;
    for (i = 0; i < n; ++i) {
        if (!s[i].online) {
            return 0;
        }
    }
    return 1;
}

static const char* kRefdata =
    "p2repl://FORTS_REFDATA_REPL;tables=fut_sess_contents,fut_vcb,fut_instruments,"
    "fut_bond_registry,sys_messages,multileg_dict,fut_rejected_orders,fut_intercl_info,"
    "fut_bond_nkd,fut_bond_nominal,fut_bond_isin,user,investor,fut_margin_type,"
    "fut_settlement_account,sma_master,sma_pre_trade_check,clearing_members,instr2matching_map,"
    "fut_exec_orders,discrete_auction,discrete_auction_base_contract,session,"
    "brokers_base_contracts_params";
static const char* kTrade =
    "p2repl://FORTS_TRADE_REPL;tables=orders_log,multileg_orders_log,user_deal,"
    "user_multileg_deal,heartbeat";

static void set_text(cg_message_desc_t* m, void* data, const char* field, const char* value) {
    cg_field_desc_t* f = field_named(m, field);
    if (f != NULL) {
        strncpy((char*)data + f->offset, value, f->size - 1);
    }
}

static void set_i4(cg_message_desc_t* m, void* data, const char* field, int32_t value) {
    cg_field_desc_t* f = field_named(m, field);
    if (f != NULL && f->size == 4) {
        memcpy((char*)data + f->offset, &value, 4);
    }
}

/* Posts one AddOrder and waits for its reply or timeout. */
static void post_order(cg_conn_t* tr, cg_publisher_t* pub, Replies* rep, uint32_t user_id,
                       int32_t isin_id, int32_t amount, const char* price) {
    cg_msg_t* msg = NULL;
    cg_scheme_desc_t* scheme = NULL;
    cg_message_desc_t* m;
    int before = rep->replies + rep->timeouts;
    long long until;
    if (cg.pub_msgnew(pub, CG_KEY_NAME, "AddOrder", &msg) != 0 ||
        cg.pub_getscheme(pub, &scheme) != 0) {
        check(0, "AddOrder message created");
        return;
    }
    m = message_named(scheme, "AddOrder");
    ((cg_msg_data_t*)msg)->user_id = user_id;
    set_text(m, msg->data, "broker_code", "FZ00");
    set_i4(m, msg->data, "isin_id", isin_id);
    set_text(m, msg->data, "client_code", "001");
    set_i4(m, msg->data, "dir", 1);
    set_i4(m, msg->data, "type", 1);
    set_i4(m, msg->data, "amount", amount);
    set_text(m, msg->data, "price", price);
    check(cg.pub_post(pub, msg, CG_PUB_NEEDREPLY) == 0, "AddOrder posted (user id %u)", user_id);
    cg.pub_msgfree(pub, msg);
    until = now_ms() + 8000;
    while (rep->replies + rep->timeouts == before && now_ms() < until) {
        cg.conn_process(tr, 5, NULL);
    }
}

int main(int argc, char** argv) {
    char lib[1200], router[1200], bin[1024], tmp[512], ini[1024], ports[1024], text[256];
    char conn_md[256], conn_tr[256];
    int port = 0, control = 0, i;
    uint32_t major = 0, minor = 0, build = 0, st = 0;
    uint32_t seen[4] = {0, 0, 0, 0};
    cg_conn_t* md = NULL;
    cg_conn_t* tr = NULL;
    cg_conn_t* bad = NULL;
    cg_listener_t* junk = NULL;
    cg_publisher_t* pub = NULL;
    Stream streams[2];
    Replies rep;
    long long until;

    if (argc != 2) {
        fprintf(stderr, "usage: %s <gateway installation folder>\n", argv[0]);
        return 2;
    }
    snprintf(bin, sizeof bin, "%.1000s/bin", argv[1]);
    snprintf(lib, sizeof lib, "%s/cgate64.dll", bin);
    snprintf(router, sizeof router, "%s/P2MQRouter64.exe", bin);
    memset(streams, 0, sizeof streams);
    memset(&rep, 0, sizeof rep);
    streams[0].settings = kRefdata;
    streams[1].settings = kTrade;

    if (!bind_library(lib, (void**)&cg, kNames, 34)) {
        check(0, "all 34 entry points bound from %s", lib);
        return 1;
    }
    check(1, "all 34 entry points bound");
    atexit(kill_router);

    check(make_temp_dir(tmp, sizeof tmp), "temporary folder %s", tmp);
    snprintf(ini, sizeof ini, "%s/client_router.ini", tmp);
    snprintf(ports, sizeof ports, "%s/router.ports", tmp);
    write_file(ini, "[router]\nport=0\ncontrol_port=0\nrate=50\nseed=7\n");
    i = start_router(router, ini) && read_ports(ports, &port, &control);
    check(i, "router started on port %d (control %d)", port, control);
    if (port == 0) {
        return 1;
    }

    /* Environment: the ini is looked up from the current folder, as the terminal leaves it. */
    check(chdir(bin) == 0, "current folder is bin/");
    check(cg.env_open("ini=no-such.ini;subsys=mq,replclient;log=p2:p2syslog;minloglevel=info;"
                      "key=11111111") != 0,
          "environment refuses a missing ini file");
    check(cg.env_open("ini=p2cgate.ini;subsys=mq,replclient;log=p2:p2syslog;minloglevel=info;"
                      "key=11111111") == 0,
          "environment opened");
    i = cg.env_getcomp_ver("cgate", &major, &minor, &build) == 0;
    check(i && major == 7 && minor == 0, "version %u.%u.%u", major, minor, build);
    put_env("VORLEN_SIM_CGATE_VERSION", "6.59.9999");
    i = cg.env_getcomp_ver("cgate", &major, &minor, &build) == 0;
    check(i && major == 6 && minor == 59 && build == 9999, "version overridden to %u.%u.%u", major,
          minor, build);
    put_env("VORLEN_SIM_CGATE_VERSION", NULL);

    /* Connection strings. */
    check(cg.conn_new("p2tcp://127.0.0.1;name=x", &bad) == CG_ERR_INVALIDARGUMENT,
          "connection without a port refused");
    check(cg.conn_new("tcp://127.0.0.1:1;name=x", &bad) == CG_ERR_INVALIDARGUMENT,
          "unknown connection type refused");
    check(cg.conn_new("p2tcp://127.0.0.1:1;colour=red", &bad) == CG_ERR_INVALIDARGUMENT,
          "unknown connection setting refused");
    snprintf(conn_md, sizeof conn_md,
             "p2tcp://127.0.0.1:%d;app_name=vorlen;timeout=2000;local_timeout=500;name=marketdata",
             port);
    snprintf(conn_tr, sizeof conn_tr,
             "p2lrpcq://127.0.0.1:%d;app_name=tr_vorlen;timeout=2000;local_timeout=500;"
             "lrpcq_buf=1024000;name=transaction",
             port);
    check(cg.conn_new(conn_md, &md) == 0, "market-data connection created");
    check(cg.conn_getstate(md, &st) == 0 && st == CG_STATE_CLOSED, "new connection is closed");
    check(cg.lsn_new(md, "p2repl://FORTS_NO_SUCH_REPL;tables=x", on_stream, NULL, &junk) != 0,
          "unknown stream refused");
    check(cg.lsn_new(md, "p2repl://FORTS_TRADE_REPL;tables=orders_log,no_table", on_stream, NULL,
                     &junk) != 0,
          "unknown table refused");
    for (i = 0; i < 2; ++i) {
        check(cg.lsn_new(md, streams[i].settings, on_stream, &streams[i], &streams[i].lsn) == 0,
              "listener %d created", i);
    }

    until = now_ms() + 20000;
    while (!all_online(streams, 2) && now_ms() < until) {
        pass(md, streams, 2, seen);
    }
    check(seen[CG_STATE_CLOSED] && seen[CG_STATE_ACTIVE], "connection went from closed to active");
    for (i = 0; i < 2; ++i) {
        check(streams[i].opened == 1 && streams[i].scheme != NULL &&
                  streams[i].scheme->scheme_type == CG_SCHEME_BIN,
              "stream %d opened with a fixed-layout scheme", i);
        check(streams[i].lifenums > 0 && streams[i].life > 0, "stream %d life number %u", i,
              streams[i].life);
        check(streams[i].online, "stream %d on-line", i);
        check(streams[i].rows > 0, "stream %d snapshot rows: %d", i, streams[i].rows);
    }
    check(streams[0].scheme && streams[0].scheme->num_messages == 24,
          "refdata scheme has the 24 subscribed tables");
    check(streams[0].fut_rows >= 25 && streams[0].fut_complete >= 25,
          "futures rows decoded: %d of %d complete (e.g. %s, id %d)", streams[0].fut_complete,
          streams[0].fut_rows, streams[0].fut_isin, streams[0].fut_isin_id);

    /* Orders over the transaction connection. */
    check(cg.conn_new(conn_tr, &tr) == 0, "transaction connection created");
    check(cg.pub_new(tr, "p2mq://FORTS_SRV;category=FORTS_MSG;name=publisher;timeout=5000", &pub) ==
              0,
          "publisher created");
    check(cg.lsn_new(tr, "p2mqreply://;ref=publisher", on_reply, &rep, &rep.lsn) == 0,
          "reply listener created");
    until = now_ms() + 10000;
    for (;;) {
        uint32_t ps = 0, ls = 0;
        cg.conn_getstate(tr, &st);
        if (st == CG_STATE_CLOSED) {
            cg.conn_open(tr, NULL);
        } else if (st == CG_STATE_ACTIVE) {
            cg.conn_process(tr, 1, NULL);
            cg.pub_getstate(pub, &ps);
            cg.lsn_getstate(rep.lsn, &ls);
            if (ps == CG_STATE_CLOSED) {
                cg.pub_open(pub, NULL);
            }
            if (ls == CG_STATE_CLOSED) {
                cg.lsn_open(rep.lsn, "0");
            }
            if (ps == CG_STATE_ACTIVE && rep.opened) {
                break;
            }
        }
        if (now_ms() > until) {
            break;
        }
    }
    check(rep.opened == 1 && rep.scheme != NULL, "reply listener opened with its scheme");
    {
        /* old_kotir is a price on the instrument's step. */
        double price = (double)streams[0].fut_price;
        for (i = 0; i < streams[0].fut_scale; ++i) {
            price /= 10.0;
        }
        snprintf(text, sizeof text, "%.5f", price);
    }
    post_order(tr, pub, &rep, 4242, streams[0].fut_isin_id, 1, text);
    check(rep.replies == 1 && rep.user_id == 4242 && strcmp(rep.name, "FORTS_MSG101") == 0,
          "reply %s to user id %u", rep.name, rep.user_id);
    check(rep.code == 0 && rep.order_id > 0, "order accepted: code %d, order id %lld", rep.code,
          (long long)rep.order_id);
    post_order(tr, pub, &rep, 4243, streams[0].fut_isin_id, 0, text);
    check(rep.replies == 2 && rep.user_id == 4243 && rep.code == 53,
          "zero amount refused with code %d", rep.code);

    /* The router goes away: the connection reports an error, its listeners close. */
    kill_router();
    memset(seen, 0, sizeof seen);
    until = now_ms() + 10000;
    while (!seen[CG_STATE_ERROR] && now_ms() < until) {
        pass(md, streams, 2, seen);
    }
    check(seen[CG_STATE_ERROR], "connection in error after the router died");
    check(streams[0].closed == 1 && streams[1].closed == 1 && !streams[0].online,
          "listeners told of their close");

    /* ... and comes back on the same port: the same loop reopens everything. */
    remove(ports);
    snprintf(text, sizeof text, "[router]\nport=%d\ncontrol_port=%d\nrate=50\nseed=7\n", port,
             control);
    write_file(ini, text);
    i = start_router(router, ini) && read_ports(ports, &port, &control);
    check(i, "router restarted on port %d", port);
    until = now_ms() + 20000;
    while (!all_online(streams, 2) && now_ms() < until) {
        st = pass(md, streams, 2, NULL);
    }
    check(cg.conn_getstate(md, &st) == 0 && st == CG_STATE_ACTIVE, "connection active again");
    check(streams[0].opened == 2 && streams[1].opened == 2 && all_online(streams, 2),
          "listeners reopened and on-line again");

    check(stop_router(), "router left cleanly on SIGTERM");
    remove_temp_dir(tmp);
    cg.lsn_destroy(rep.lsn);
    cg.pub_destroy(pub);
    cg.conn_destroy(tr);
    for (i = 0; i < 2; ++i) {
        cg.lsn_destroy(streams[i].lsn);
    }
    cg.conn_destroy(md);
    check(cg.env_close() == 0, "environment closed");
    if (failures != 0) {
        fprintf(stderr, "%d check(s) failed\n", failures);
    }
    return failures == 0 ? 0 : 1;
}
