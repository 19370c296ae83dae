// Settings strings of listeners and publishers, and the schemes they are given.

#include "Gate.h"
#include "Text.h"

namespace vsim::gate {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::vector<TableDef> CatalogueMessages() {
    return Catalogue::Get().Messages();
}

} // namespace

std::uint32_t Listener::Create(Connection* conn, const char* settings, CG_LISTENER_CB cb,
                               void* data, Listener** out) {
    if (conn == nullptr || settings == nullptr || cb == nullptr || out == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string_view s(settings);
    auto l = std::make_unique<Listener>();
    l->conn = conn;
    l->cb = cb;
    l->data = data;
    const Catalogue& cat = Catalogue::Get();

    if (StartsWith(s, "p2mqreply://")) {
        l->kind = Kind::Reply;
        for (const KeyValue& kv : ParseKeyValues(s.substr(12))) {
            if (kv.key != "ref" || !kv.hasValue || kv.value.empty()) {
                LogLine(Level::Error, "reply listener: bad setting '%s' in '%s'", kv.key.c_str(),
                        settings);
                return CG_ERR_INVALIDARGUMENT;
            }
            l->ref = kv.value;
        }
        if (l->ref.empty()) {
            LogLine(Level::Error, "reply listener without ref: '%s'", settings);
            return CG_ERR_INVALIDARGUMENT;
        }
        l->scheme = std::make_unique<SchemeDesc>(CatalogueMessages());
        for (const TableDef& t : l->scheme->Tables()) {
            l->layouts.emplace_back().Bind(&t, cat.Message(t.name));
        }
        *out = l.release();
        return CG_ERR_OK;
    }
    if (!StartsWith(s, "p2repl://")) {
        LogLine(Level::Error, "unknown listener type: '%s'", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string_view rest = s.substr(9);
    const auto semi = rest.find(';');
    l->stream = std::string(rest.substr(0, semi));
    const StreamDef* stream = cat.Stream(l->stream);
    if (stream == nullptr) {
        LogLine(Level::Error, "unknown stream '%s'", l->stream.c_str());
        return CG_ERR_INVALIDARGUMENT;
    }
    std::vector<std::string> tables;
    bool haveTables = false;
    std::string schemeSpec;
    if (semi != std::string_view::npos) {
        for (const KeyValue& kv : ParseKeyValues(rest.substr(semi + 1))) {
            if (kv.key == "tables" && kv.hasValue) {
                haveTables = true;
                for (std::string_view t : Split(kv.value, ',')) {
                    if (!Trim(t).empty()) {
                        tables.emplace_back(Trim(t));
                    }
                }
            } else if (kv.key == "scheme" && kv.hasValue) {
                schemeSpec = kv.value;
            } else if ((kv.key == "mode" || kv.key == "name") && kv.hasValue) {
                continue;
            } else {
                LogLine(Level::Error, "listener: unknown setting '%s' in '%s'", kv.key.c_str(),
                        settings);
                return CG_ERR_INVALIDARGUMENT;
            }
        }
    }
    std::vector<TableDef> own;
    if (!schemeSpec.empty()) {
        if (!LoadSchemeFile(schemeSpec, own)) {
            return CG_ERR_INVALIDARGUMENT;
        }
    } else if (haveTables && !tables.empty()) {
        for (const std::string& t : tables) {
            if (stream->Find(t) < 0) {
                LogLine(Level::Error, "stream %s has no table '%s'", l->stream.c_str(), t.c_str());
                return CG_ERR_INVALIDARGUMENT;
            }
            for (const TableDef& o : own) {
                if (o.name == t) {
                    LogLine(Level::Error, "table '%s' named twice", t.c_str());
                    return CG_ERR_INVALIDARGUMENT;
                }
            }
            own.push_back(*stream->tables[static_cast<std::size_t>(stream->Find(t))]);
        }
    } else {
        for (const TableDef* t : stream->tables) {
            own.push_back(*t);
        }
    }
    l->scheme = std::make_unique<SchemeDesc>(std::move(own));
    const auto& ownTables = l->scheme->Tables();
    for (std::size_t i = 0; i < ownTables.size(); ++i) {
        const int t = stream->Find(ownTables[i].name);
        const TableDef* wire = t < 0 ? nullptr : stream->tables[static_cast<std::size_t>(t)];
        l->layouts.emplace_back().Bind(&ownTables[i], wire);
        if (wire != nullptr) {
            l->subTables.push_back(ownTables[i].name);
            l->slotToMsg.push_back(static_cast<int>(i));
        }
    }
    if (l->subTables.empty()) {
        LogLine(Level::Error, "listener '%s' names no table of its stream", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    *out = l.release();
    return CG_ERR_OK;
}

std::uint32_t Publisher::Create(Connection* conn, const char* settings, Publisher** out) {
    if (conn == nullptr || settings == nullptr || out == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string_view s(settings);
    if (!StartsWith(s, "p2mq://")) {
        LogLine(Level::Error, "unknown publisher type: '%s'", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    const std::string_view rest = s.substr(7);
    const auto semi = rest.find(';');
    if (Trim(rest.substr(0, semi)).empty()) {
        LogLine(Level::Error, "publisher without service: '%s'", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    auto p = std::make_unique<Publisher>();
    p->conn = conn;
    std::string schemeSpec;
    if (semi != std::string_view::npos) {
        for (const KeyValue& kv : ParseKeyValues(rest.substr(semi + 1))) {
            std::int64_t n = 0;
            if (!kv.hasValue) {
                LogLine(Level::Error, "publisher: setting '%s' without value", kv.key.c_str());
                return CG_ERR_INVALIDARGUMENT;
            }
            if (kv.key == "name") {
                p->name = kv.value;
            } else if (kv.key == "timeout") {
                if (!ParseInt(kv.value, n) || n <= 0 || n > 3600000) {
                    LogLine(Level::Error, "publisher: bad timeout '%s'", kv.value.c_str());
                    return CG_ERR_INVALIDARGUMENT;
                }
                p->timeoutMs = static_cast<std::uint32_t>(n);
            } else if (kv.key == "scheme") {
                schemeSpec = kv.value;
            } else if (kv.key == "version" || kv.key == "category") {
                if (kv.value.empty()) {
                    return CG_ERR_INVALIDARGUMENT;
                }
            } else {
                LogLine(Level::Error, "publisher: unknown setting '%s'", kv.key.c_str());
                return CG_ERR_INVALIDARGUMENT;
            }
        }
    }
    if (p->name.empty()) {
        LogLine(Level::Error, "publisher without name: '%s'", settings);
        return CG_ERR_INVALIDARGUMENT;
    }
    std::vector<TableDef> own;
    if (!schemeSpec.empty()) {
        if (!LoadSchemeFile(schemeSpec, own)) {
            return CG_ERR_INVALIDARGUMENT;
        }
    } else {
        own = CatalogueMessages();
    }
    p->scheme = std::make_unique<SchemeDesc>(std::move(own));
    for (const TableDef& t : p->scheme->Tables()) {
        p->layouts.emplace_back().Bind(&t, Catalogue::Get().Message(t.name));
    }
    *out = p.release();
    return CG_ERR_OK;
}

} // namespace vsim::gate
