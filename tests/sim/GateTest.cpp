// The gateway library's own rules: bad input never crashes it, settings strings are checked,
// scheme files are found and honoured, decimals decode, the installation is complete.

#include "../../sim/common/Catalogue.h"
#include "../../sim/common/Decimal.h"
#include "../../sim/common/Ini.h"
#include "SimSupport.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace simtest {
namespace {

std::uint32_t CG_CALL Ignore(cg_conn_t*, cg_listener_t*, cg_msg_t*, void*) {
    return 0;
}

TEST(SimGate, NullPointersAndUnknownHandlesAreRefused) {
    OpenEnvironment();
    int junk = 0;
    auto* conn = reinterpret_cast<cg_conn_t*>(&junk);
    auto* lsn = reinterpret_cast<cg_listener_t*>(&junk);
    auto* pub = reinterpret_cast<cg_publisher_t*>(&junk);
    auto* msg = reinterpret_cast<cg_msg_t*>(&junk);
    std::uint32_t state = 0;
    cg_scheme_desc_t* scheme = nullptr;
    cg_conn_t* c = nullptr;
    for (cg_conn_t* h : {static_cast<cg_conn_t*>(nullptr), conn}) {
        EXPECT_NE(cg_conn_open(h, nullptr), 0u);
        EXPECT_NE(cg_conn_close(h), 0u);
        EXPECT_NE(cg_conn_getstate(h, &state), 0u);
        EXPECT_NE(cg_conn_process(h, 1, nullptr), 0u);
        EXPECT_NE(cg_conn_destroy(h), 0u);
        EXPECT_NE(cg_lsn_new(h, "p2repl://FORTS_TRADE_REPL", Ignore, nullptr, &lsn), 0u);
        EXPECT_NE(cg_pub_new(h, "p2mq://FORTS_SRV;name=p", &pub), 0u);
    }
    for (cg_listener_t* h : {static_cast<cg_listener_t*>(nullptr), lsn}) {
        EXPECT_NE(cg_lsn_open(h, "lifinum=0"), 0u);
        EXPECT_NE(cg_lsn_close(h), 0u);
        EXPECT_NE(cg_lsn_getstate(h, &state), 0u);
        EXPECT_NE(cg_lsn_getscheme(h, &scheme), 0u);
        EXPECT_NE(cg_lsn_destroy(h), 0u);
    }
    for (cg_publisher_t* h : {static_cast<cg_publisher_t*>(nullptr), pub}) {
        EXPECT_NE(cg_pub_open(h, nullptr), 0u);
        EXPECT_NE(cg_pub_close(h), 0u);
        EXPECT_NE(cg_pub_getstate(h, &state), 0u);
        EXPECT_NE(cg_pub_getscheme(h, &scheme), 0u);
        EXPECT_NE(cg_pub_msgnew(h, CG_KEY_NAME, "AddOrder", &msg), 0u);
        EXPECT_NE(cg_pub_post(h, msg, CG_PUB_NEEDREPLY), 0u);
        EXPECT_NE(cg_pub_msgfree(h, msg), 0u);
        EXPECT_NE(cg_pub_destroy(h), 0u);
    }
    EXPECT_NE(cg_conn_new(nullptr, &c), 0u);
    EXPECT_NE(cg_conn_new("p2tcp://127.0.0.1:4001;name=x", nullptr), 0u);
    EXPECT_NE(cg_bcd_get(nullptr, nullptr, nullptr), 0u);
    EXPECT_NE(cg_getstr(nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_NE(cg_msg_dump(nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_NE(cg_env_getcomp_ver(nullptr, &state, &state, &state), 0u);
    EXPECT_NE(cg_env_getcomp_ver("router", &state, &state, &state), 0u);
    EXPECT_NE(cg_env_register_exithandler(nullptr, nullptr), 0u);
    EXPECT_NE(cg_log_infostr(nullptr), 0u);
    EXPECT_EQ(cg_log_infostr("a line from the tests"), 0u);
    EXPECT_STRNE(cg_err_getstr(0x12345), "");
    EXPECT_NE(cg_env_open("ini=p2cgate.ini"), 0u) << "the environment is open already";
}

TEST(SimGate, MalformedSettingsStringsAreInvalidArguments) {
    OpenEnvironment();
    cg_conn_t* c = nullptr;
    for (const char* s :
         {"", "127.0.0.1:4001", "p2tcp://", "p2tcp://127.0.0.1", "p2tcp://:4001",
          "p2tcp://127.0.0.1:0", "p2tcp://127.0.0.1:70000", "p2tcp://127.0.0.1:40x1",
          "p2tcp://127.0.0.1:4001;timeout=soon", "p2tcp://127.0.0.1:4001;colour=red",
          "p2lrpcq://127.0.0.1:4001;lrpcq_buf=0", "p2mq://127.0.0.1:4001"}) {
        EXPECT_EQ(cg_conn_new(s, &c), CG_ERR_INVALIDARGUMENT) << s;
    }
    ASSERT_EQ(cg_conn_new("P2TCP://127.0.0.1:1;app_name=a;timeout=1;local_timeout=1;"
                          "lrpcq_buf=1024000;name=n",
                          &c),
              0u);
    cg_listener_t* l = nullptr;
    for (const char* s :
         {"", "p2repl://", "p2repl://FORTS_NO_SUCH_REPL", "p2repl://FORTS_TRADE_REPL;tables=deal",
          "p2repl://FORTS_TRADE_REPL;tables=orders_log,orders_log",
          "p2repl://FORTS_TRADE_REPL;colour=red",
          "p2repl://FORTS_TRADE_REPL;scheme=|FILE|scheme/no_such.ini|CustReplScheme",
          "p2repl://FORTS_TRADE_REPL;scheme=|FILE|scheme/trades.ini|NoSuchSection",
          "p2repl://FORTS_TRADE_REPL;scheme=|FILE|scheme/rates.ini|CustReplScheme",
          "p2repl://FORTS_TRADE_REPL;scheme=scheme/trades.ini", "p2mqreply://",
          "p2mqreply://;ref=", "p2mqreply://;ref=p;x=1"}) {
        EXPECT_EQ(cg_lsn_new(c, s, Ignore, nullptr, &l), CG_ERR_INVALIDARGUMENT) << s;
    }
    EXPECT_NE(cg_lsn_new(c, "p2repl://FORTS_TRADE_REPL", nullptr, nullptr, &l), 0u);
    cg_publisher_t* p = nullptr;
    for (const char* s : {"", "p2mq://", "p2mq://FORTS_SRV", "p2mq://FORTS_SRV;name=",
                          "p2mq://FORTS_SRV;name=p;timeout=-5", "p2mq://FORTS_SRV;name=p;x=1",
                          "p2mq://FORTS_SRV;name=p;scheme=|FILE|no_such.ini|message"}) {
        EXPECT_EQ(cg_pub_new(c, s, &p), CG_ERR_INVALIDARGUMENT) << s;
    }
    cg_conn_destroy(c);
}

TEST(SimGate, ObjectsOpenOnlyOnAnActiveConnection) {
    OpenEnvironment();
    cg_conn_t* c = nullptr;
    ASSERT_EQ(cg_conn_new("p2tcp://127.0.0.1:1;name=n", &c), 0u);
    cg_listener_t* l = nullptr;
    cg_publisher_t* p = nullptr;
    ASSERT_EQ(
        cg_lsn_new(c, "p2repl://FORTS_TRADE_REPL;tables=orders_log,heartbeat", Ignore, nullptr, &l),
        0u);
    ASSERT_EQ(cg_pub_new(c,
                         "p2mq://FORTS_SRV;category=FORTS_MSG;name=p;timeout=5000;"
                         "scheme=|FILE|forts_messages.ini|message;version=718",
                         &p),
              0u);
    cg_scheme_desc_t* scheme = nullptr;
    std::uint32_t state = 99;
    EXPECT_EQ(cg_lsn_open(l, "lifinum=0"), CG_ERR_INCORRECTSTATE);
    EXPECT_EQ(cg_pub_open(p, nullptr), CG_ERR_INCORRECTSTATE);
    EXPECT_NE(cg_lsn_getscheme(l, &scheme), 0u);
    EXPECT_NE(cg_pub_getscheme(p, &scheme), 0u);
    EXPECT_EQ(cg_conn_process(c, 1, nullptr), CG_ERR_INCORRECTSTATE);
    ASSERT_EQ(cg_lsn_getstate(l, &state), 0u);
    EXPECT_EQ(state, CG_STATE_CLOSED);
    // Nothing listens on port 1: the connection ends in error, not in a hang.
    ASSERT_EQ(cg_conn_open(c, nullptr), 0u);
    Session::PumpRaw([&] { return cg_conn_getstate(c, &state) == 0 && state == CG_STATE_ERROR; });
    EXPECT_EQ(state, CG_STATE_ERROR);
    cg_msg_t* m = nullptr;
    ASSERT_EQ(cg_pub_msgnew(p, CG_KEY_NAME, "AddOrder", &m), 0u);
    EXPECT_EQ(cg_pub_post(p, m, CG_PUB_NEEDREPLY), CG_ERR_INCORRECTSTATE);
    EXPECT_EQ(cg_pub_msgfree(p, m), 0u);
    EXPECT_NE(cg_pub_msgfree(p, m), 0u) << "freed twice";
    EXPECT_EQ(cg_conn_destroy(c), 0u);
    EXPECT_NE(cg_lsn_getstate(l, &state), 0u) << "listeners go with their connection";
}

TEST(SimGate, PublishedMessagesFollowThePublisherScheme) {
    OpenEnvironment();
    Router router;
    Session s(router.Port(), "transaction");
    s.Publish("p2mq://FORTS_SRV;category=FORTS_MSG;name=publisher;timeout=5000;"
              "scheme=|FILE|forts_messages.ini|message;version=718",
              "p2mqreply://;ref=publisher");
    ASSERT_TRUE(s.Pump([&] {
        std::uint32_t ps = 0;
        return cg_pub_getstate(s.Pub(), &ps) == 0 && ps == CG_STATE_ACTIVE;
    }));
    cg_scheme_desc_t* scheme = nullptr;
    ASSERT_EQ(cg_pub_getscheme(s.Pub(), &scheme), 0u);
    EXPECT_EQ(scheme->scheme_type, CG_SCHEME_BIN);
    cg_msg_t* byName = nullptr;
    cg_msg_t* byId = nullptr;
    cg_msg_t* byIndex = nullptr;
    const std::uint32_t id = 64;
    const std::uint32_t index = 0;
    ASSERT_EQ(cg_pub_msgnew(s.Pub(), CG_KEY_NAME, "AddOrder", &byName), 0u);
    ASSERT_EQ(cg_pub_msgnew(s.Pub(), CG_KEY_ID, &id, &byId), 0u);
    ASSERT_EQ(cg_pub_msgnew(s.Pub(), CG_KEY_INDEX, &index, &byIndex), 0u);
    auto* d = reinterpret_cast<cg_msg_data_t*>(byName);
    EXPECT_EQ(d->msg_id, 64u);
    EXPECT_STREQ(d->msg_name, "AddOrder");
    EXPECT_EQ(d->data_size, scheme->messages->size);
    EXPECT_EQ(reinterpret_cast<cg_msg_data_t*>(byId)->msg_id, 64u);
    EXPECT_STREQ(reinterpret_cast<cg_msg_data_t*>(byIndex)->msg_name, scheme->messages->name);
    const std::uint32_t bad = 123456;
    cg_msg_t* none = nullptr;
    EXPECT_NE(cg_pub_msgnew(s.Pub(), CG_KEY_NAME, "NoSuchMessage", &none), 0u);
    EXPECT_NE(cg_pub_msgnew(s.Pub(), CG_KEY_ID, &bad, &none), 0u);
    EXPECT_NE(cg_pub_msgnew(s.Pub(), 7, "AddOrder", &none), 0u);
    char dump[2048];
    std::size_t size = sizeof dump;
    EXPECT_EQ(cg_msg_dump(byName, scheme, dump, &size), 0u);
    EXPECT_NE(std::strstr(dump, "AddOrder: broker_code="), nullptr) << dump;
    for (cg_msg_t* m : {byName, byId, byIndex}) {
        EXPECT_EQ(cg_pub_msgfree(s.Pub(), m), 0u);
    }
}

TEST(SimGate, TheTerminalsOrderRecordFitsTheAddOrderScheme) {
    // Widths of the terminal's packed order record; each message field must fit in its slot,
    // because the terminal copies exactly the scheme's size from the record.
    const std::map<std::string, std::size_t> widths = {{"broker_code", 6},
                                                       {"isin_id", 4},
                                                       {"client_code", 5},
                                                       {"dir", 4},
                                                       {"type", 4},
                                                       {"amount", 4},
                                                       {"price", 19},
                                                       {"comment", 22},
                                                       {"broker_to", 22},
                                                       {"ext_id", 4},
                                                       {"is_check_limit", 4},
                                                       {"date_exp", 10},
                                                       {"dont_check_money", 4},
                                                       {"match_ref", 12},
                                                       {"ncc_request", 1}};
    std::string text;
    ASSERT_TRUE(vsim::ReadTextFile(InstallDir() + "/scheme/forts_messages.ini", text));
    std::vector<vsim::TableDef> messages;
    std::string error;
    ASSERT_TRUE(vsim::ReadScheme(vsim::ParseIni(text), "message", messages, error)) << error;
    const vsim::TableDef* add = nullptr;
    for (const auto& m : messages) {
        add = m.name == "AddOrder" ? &m : add;
    }
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->fields.size(), widths.size());
    for (const auto& f : add->fields) {
        ASSERT_TRUE(widths.count(f.name)) << f.name;
        EXPECT_LE(f.size, widths.at(f.name)) << f.name;
    }
}

TEST(SimGate, DecimalsAndFieldTextDecode) {
    char field[vsim::kDecimalSize];
    vsim::PutDecimal(field, static_cast<std::int64_t>(-1234567), static_cast<std::int8_t>(5));
    std::int64_t m = 0;
    std::int8_t s = 0;
    ASSERT_EQ(cg_bcd_get(field, &m, &s), 0u);
    EXPECT_EQ(m, -1234567);
    EXPECT_EQ(s, 5);
    char text[64];
    std::size_t size = sizeof text;
    ASSERT_EQ(cg_getstr("d16.5", field, text, &size), 0u);
    EXPECT_STREQ(text, "-12.34567");
    vsim::PutDecimal(field, 0.5, 2);
    size = sizeof text;
    ASSERT_EQ(cg_getstr("d26.2", field, text, &size), 0u);
    EXPECT_STREQ(text, "0.50");
    const std::int32_t i4 = -42;
    size = 2;
    EXPECT_EQ(cg_getstr("i4", &i4, text, &size), CG_ERR_BUFFERTOOSMALL);
    EXPECT_EQ(size, 4u);
    ASSERT_EQ(cg_getstr("i4", &i4, text, &size), 0u);
    EXPECT_STREQ(text, "-42");
    const cg_time_t t = {2026, 12, 18, 18, 50, 0, 0, 250};
    size = sizeof text;
    ASSERT_EQ(cg_getstr("t", &t, text, &size), 0u);
    EXPECT_STREQ(text, "2026/12/18 18:50:00.250");
    size = sizeof text;
    EXPECT_NE(cg_getstr("x9", &i4, text, &size), 0u);
}

TEST(SimGate, ReplicationSchemeFromAFileIsHonouredField_by_field) {
    OpenEnvironment();
    Router router;
    // A scheme of our own: fewer fields, another order, one table of another stream.
    const std::string path = router.Folder() + "/mine.ini";
    std::ofstream(path) << "[dbscheme:Mine]\ntable=fut_sess_contents\ntable=position\n"
                           "[table:Mine:fut_sess_contents]\nfield=replID,i8\nfield=replRev,i8\n"
                           "field=replAct,i8\nfield=name,c75\nfield=isin_id,i4\nfield=isin,c25\n"
                           "[table:Mine:position]\nfield=replID,i8\nfield=replRev,i8\n"
                           "field=replAct,i8\nfield=xpos,i8\n";
    Session s(router.Port(), "marketdata");
    Lsn& own = s.Listen("p2repl://FORTS_REFDATA_REPL;scheme=|FILE|" + path + "|Mine");
    Lsn& stock = s.Listen("p2repl://FORTS_REFDATA_REPL;tables=fut_sess_contents");
    Lsn& installed =
        s.Listen("p2repl://FORTS_TRADE_REPL;scheme=|FILE|scheme/trades.ini|CustReplScheme");
    ASSERT_TRUE(s.Pump([&] { return own.online && stock.online && installed.online; }));
    ASSERT_EQ(own.scheme->num_messages, 2u);
    EXPECT_EQ(installed.scheme->num_messages, 6u);
    const auto mine = own.Rows("fut_sess_contents");
    const auto theirs = stock.Rows("fut_sess_contents");
    ASSERT_EQ(mine.size(), theirs.size());
    ASSERT_FALSE(mine.empty());
    for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i]->data.size(), own.scheme->messages->size);
        EXPECT_EQ(Text(own.scheme, *mine[i], "isin"), Text(stock.scheme, *theirs[i], "isin"));
        EXPECT_EQ(Int(own.scheme, *mine[i], "isin_id"), Int(stock.scheme, *theirs[i], "isin_id"));
        EXPECT_EQ(Text(own.scheme, *mine[i], "name"), Text(stock.scheme, *theirs[i], "name"));
    }
    EXPECT_TRUE(own.Rows("position").empty());
}

TEST(SimGate, InstalledSchemeFilesMatchTheCatalogue) {
    const vsim::Catalogue& cat = vsim::Catalogue::Get();
    ASSERT_EQ(cat.Streams().size(), 30u);
    for (const vsim::SchemeFileDef& f : cat.SchemeFiles()) {
        std::string text;
        ASSERT_TRUE(vsim::ReadTextFile(InstallDir() + "/scheme/" + f.file, text)) << f.file;
        std::vector<vsim::TableDef> tables;
        std::string error;
        ASSERT_TRUE(vsim::ReadScheme(vsim::ParseIni(text), "CustReplScheme", tables, error))
            << f.file << ": " << error;
        const auto expected = f.Tables();
        ASSERT_EQ(tables.size(), expected.size()) << f.file;
        for (std::size_t i = 0; i < tables.size(); ++i) {
            EXPECT_TRUE(vsim::SameLayout(tables[i], *expected[i]))
                << f.file << " " << tables[i].name;
            const auto& fs = tables[i].fields;
            ASSERT_GE(fs.size(), 3u);
            EXPECT_EQ(fs[0].name + fs[0].type + fs[1].name + fs[1].type + fs[2].name + fs[2].type,
                      "replIDi8replRevi8replActi8");
            const vsim::FieldDef* isin = tables[i].Field("isin_id");
            EXPECT_TRUE(isin == nullptr || isin->type == "i4") << tables[i].name;
        }
    }
    // Every stream the terminal may name in scheme mode has its file.
    for (const char* file : {"ordLog_trades.ini",
                             "fee.ini",
                             "brokerfee.ini",
                             "brokerfeeparams.ini",
                             "ordbook.ini",
                             "common.ini",
                             "orders_aggr.ini",
                             "refdata.ini",
                             "mm.ini",
                             "rts_index.ini",
                             "volat.ini",
                             "riskinfo_black.ini",
                             "info.ini",
                             "rates.ini",
                             "forecastim.ini",
                             "trades.ini",
                             "userorderbook.ini",
                             "pos.ini",
                             "part.ini",
                             "prohibition.ini",
                             "vm.ini",
                             "tnpenalty.ini",
                             "user.ini"}) {
        EXPECT_TRUE(std::filesystem::exists(InstallDir() + "/scheme/" + file)) << file;
    }
}

TEST(SimGate, InstallationFolderIsComplete) {
    const std::string dir = InstallDir();
    for (const char* f : {"/bin/cgate64.dll", "/bin/P2MQRouter64.exe", "/bin/p2cgate.ini",
                          "/client_router.ini", "/scheme/forts_messages.ini"}) {
        EXPECT_TRUE(std::filesystem::exists(dir + f)) << f;
    }
    std::string reg;
    ASSERT_TRUE(vsim::ReadTextFile(dir + "/vorlen-registry.reg", reg));
    EXPECT_EQ(reg.rfind("Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate]\n"
                        "\"InstallDir\"=\"",
                        0),
              0u)
        << reg;
    EXPECT_NE(reg.find(dir + "/\"\n"), std::string::npos) << reg;
    std::string ini;
    ASSERT_TRUE(vsim::ReadTextFile(dir + "/client_router.ini", ini));
    const vsim::IniFile parsed = vsim::ParseIni(ini);
    const vsim::IniSection* router = parsed.Section("router");
    ASSERT_NE(router, nullptr);
    EXPECT_EQ(router->Get("port"), "4001");
    EXPECT_FALSE(router->Get("control_port").empty());
}

} // namespace
} // namespace simtest
