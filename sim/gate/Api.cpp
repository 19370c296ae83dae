// The 34 entry points. Every handle is checked against the live objects first, so an unknown or
// freed handle, or a null pointer, gives a non-zero result instead of a crash.

#include "Decimal.h"
#include "Env.h"
#include "Exports.h"
#include "Gate.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_set>

using namespace vsim;
using namespace vsim::gate;

namespace {

struct Registry {
    std::mutex mu;
    std::unordered_set<const void*> conns, listeners, publishers, messages;
};

Registry& Reg() {
    static Registry* r = new Registry;
    return *r;
}

bool Has(std::unordered_set<const void*> Registry::*set, const void* p) {
    if (p == nullptr) {
        return false;
    }
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mu);
    return (r.*set).count(p) != 0;
}

void Add(std::unordered_set<const void*> Registry::*set, const void* p) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mu);
    (r.*set).insert(p);
}

void Remove(std::unordered_set<const void*> Registry::*set, const void* p) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mu);
    (r.*set).erase(p);
}

Connection* AsConn(cg_conn_t* c) {
    return Has(&Registry::conns, c) ? reinterpret_cast<Connection*>(c) : nullptr;
}
Listener* AsLsn(cg_listener_t* l) {
    return Has(&Registry::listeners, l) ? reinterpret_cast<Listener*>(l) : nullptr;
}
Publisher* AsPub(cg_publisher_t* p) {
    return Has(&Registry::publishers, p) ? reinterpret_cast<Publisher*>(p) : nullptr;
}

void FreeMessagesOf(Publisher* p) {
    Registry& r = Reg();
    std::vector<OwnedMessage*> mine;
    {
        std::lock_guard<std::mutex> lock(r.mu);
        for (const void* m : r.messages) {
            auto* om = static_cast<OwnedMessage*>(const_cast<void*>(m));
            if (om->pub == p) {
                mine.push_back(om);
            }
        }
        for (OwnedMessage* m : mine) {
            r.messages.erase(m);
        }
    }
    for (OwnedMessage* m : mine) {
        delete m;
    }
}

std::uint32_t DestroyListener(Listener* l) {
    l->conn->CloseListener(l);
    l->conn->Detach(l);
    Remove(&Registry::listeners, l);
    delete l;
    return CG_ERR_OK;
}

std::uint32_t DestroyPublisher(Publisher* p) {
    p->conn->ClosePublisher(p);
    p->conn->Detach(p);
    Remove(&Registry::publishers, p);
    FreeMessagesOf(p);
    delete p;
    return CG_ERR_OK;
}

std::uint32_t CopyOut(const std::string& text, char* buffer, std::size_t* size) {
    if (size == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    if (buffer == nullptr || *size < text.size() + 1) {
        *size = text.size() + 1;
        return CG_ERR_BUFFERTOOSMALL;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *size = text.size() + 1;
    return CG_ERR_OK;
}

std::uint32_t LogStr(Level level, const char* str) {
    if (str == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    LogLine(level, "%s", str);
    return CG_ERR_OK;
}

} // namespace

extern "C" {

CG_API uint32_t CG_CALL cg_env_open(const char* settings) {
    return OpenEnv(settings);
}

CG_API uint32_t CG_CALL cg_env_close(void) {
    return CloseEnv();
}

CG_API uint32_t CG_CALL cg_conn_new(const char* settings, cg_conn_t** connptr) {
    if (connptr == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    if (!EnvIsOpen()) {
        return CG_ERR_INCORRECTSTATE;
    }
    Connection* c = nullptr;
    const std::uint32_t r = Connection::Create(settings, &c);
    if (r != CG_ERR_OK) {
        return r;
    }
    Add(&Registry::conns, c);
    *connptr = reinterpret_cast<cg_conn_t*>(c);
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_conn_destroy(cg_conn_t* conn) {
    Connection* c = AsConn(conn);
    if (c == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    c->Close();
    for (Listener* l : c->Listeners()) {
        DestroyListener(l);
    }
    for (Publisher* p : c->Publishers()) {
        DestroyPublisher(p);
    }
    Remove(&Registry::conns, c);
    delete c;
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_conn_open(cg_conn_t* conn, const char*) {
    Connection* c = AsConn(conn);
    return c == nullptr ? CG_ERR_INVALIDARGUMENT : c->Open();
}

CG_API uint32_t CG_CALL cg_conn_close(cg_conn_t* conn) {
    Connection* c = AsConn(conn);
    return c == nullptr ? CG_ERR_INVALIDARGUMENT : c->Close();
}

CG_API uint32_t CG_CALL cg_conn_getstate(cg_conn_t* conn, uint32_t* state) {
    Connection* c = AsConn(conn);
    return c == nullptr || state == nullptr ? CG_ERR_INVALIDARGUMENT : c->State(*state);
}

CG_API uint32_t CG_CALL cg_conn_process(cg_conn_t* conn, uint32_t timeout, const char*) {
    Connection* c = AsConn(conn);
    return c == nullptr ? CG_ERR_INVALIDARGUMENT : c->Process(timeout);
}

CG_API uint32_t CG_CALL cg_lsn_new(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                   void* data, cg_listener_t** lsnptr) {
    Connection* c = AsConn(conn);
    if (c == nullptr || lsnptr == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    Listener* l = nullptr;
    const std::uint32_t r = Listener::Create(c, settings, cb, data, &l);
    if (r != CG_ERR_OK) {
        return r;
    }
    c->Attach(l);
    Add(&Registry::listeners, l);
    *lsnptr = reinterpret_cast<cg_listener_t*>(l);
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_lsn_destroy(cg_listener_t* lsn) {
    Listener* l = AsLsn(lsn);
    return l == nullptr ? CG_ERR_INVALIDARGUMENT : DestroyListener(l);
}

CG_API uint32_t CG_CALL cg_lsn_getstate(cg_listener_t* lsn, uint32_t* state) {
    Listener* l = AsLsn(lsn);
    return l == nullptr || state == nullptr ? CG_ERR_INVALIDARGUMENT
                                            : l->conn->ListenerState(l, *state);
}

CG_API uint32_t CG_CALL cg_lsn_open(cg_listener_t* lsn, const char* settings) {
    Listener* l = AsLsn(lsn);
    return l == nullptr ? CG_ERR_INVALIDARGUMENT : l->conn->OpenListener(l, settings);
}

CG_API uint32_t CG_CALL cg_lsn_close(cg_listener_t* lsn) {
    Listener* l = AsLsn(lsn);
    return l == nullptr ? CG_ERR_INVALIDARGUMENT : l->conn->CloseListener(l);
}

CG_API uint32_t CG_CALL cg_lsn_getscheme(cg_listener_t* lsn, cg_scheme_desc_t** schemedesc) {
    Listener* l = AsLsn(lsn);
    std::uint32_t state = 0;
    if (l == nullptr || schemedesc == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    l->conn->ListenerState(l, state);
    if (state != CG_STATE_ACTIVE) {
        return CG_ERR_INCORRECTSTATE;
    }
    *schemedesc = l->scheme->Desc();
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_pub_new(cg_conn_t* conn, const char* settings, cg_publisher_t** pubptr) {
    Connection* c = AsConn(conn);
    if (c == nullptr || pubptr == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    Publisher* p = nullptr;
    const std::uint32_t r = Publisher::Create(c, settings, &p);
    if (r != CG_ERR_OK) {
        return r;
    }
    c->Attach(p);
    Add(&Registry::publishers, p);
    *pubptr = reinterpret_cast<cg_publisher_t*>(p);
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_pub_destroy(cg_publisher_t* pub) {
    Publisher* p = AsPub(pub);
    return p == nullptr ? CG_ERR_INVALIDARGUMENT : DestroyPublisher(p);
}

CG_API uint32_t CG_CALL cg_pub_open(cg_publisher_t* pub, const char*) {
    Publisher* p = AsPub(pub);
    return p == nullptr ? CG_ERR_INVALIDARGUMENT : p->conn->OpenPublisher(p);
}

CG_API uint32_t CG_CALL cg_pub_close(cg_publisher_t* pub) {
    Publisher* p = AsPub(pub);
    return p == nullptr ? CG_ERR_INVALIDARGUMENT : p->conn->ClosePublisher(p);
}

CG_API uint32_t CG_CALL cg_pub_getstate(cg_publisher_t* pub, uint32_t* state) {
    Publisher* p = AsPub(pub);
    return p == nullptr || state == nullptr ? CG_ERR_INVALIDARGUMENT
                                            : p->conn->PublisherState(p, *state);
}

CG_API uint32_t CG_CALL cg_pub_getscheme(cg_publisher_t* pub, cg_scheme_desc_t** schemedesc) {
    Publisher* p = AsPub(pub);
    std::uint32_t state = 0;
    if (p == nullptr || schemedesc == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    p->conn->PublisherState(p, state);
    if (state != CG_STATE_ACTIVE) {
        return CG_ERR_INCORRECTSTATE;
    }
    *schemedesc = p->scheme->Desc();
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_pub_msgnew(cg_publisher_t* pub, uint32_t id_type, const void* id,
                                      struct cg_msg_t** msgptr) {
    Publisher* p = AsPub(pub);
    if (p == nullptr || id == nullptr || msgptr == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    int index = -1;
    const auto count = static_cast<std::uint32_t>(p->scheme->Tables().size());
    switch (id_type) {
    case CG_KEY_INDEX: {
        std::uint32_t i = 0;
        std::memcpy(&i, id, sizeof i);
        index = i < count ? static_cast<int>(i) : -1;
        break;
    }
    case CG_KEY_ID: {
        std::uint32_t msgId = 0;
        std::memcpy(&msgId, id, sizeof msgId);
        index = p->scheme->FindId(msgId);
        break;
    }
    case CG_KEY_NAME:
        index = p->scheme->Find(static_cast<const char*>(id));
        break;
    default:
        return CG_ERR_INVALIDARGUMENT;
    }
    if (index < 0) {
        return CG_ERR_INVALIDARGUMENT;
    }
    const TableDef& def = p->scheme->Tables()[static_cast<std::size_t>(index)];
    auto* m = new OwnedMessage;
    m->pub = p;
    m->index = index;
    m->buffer.assign((def.size + 7) / 8 + 1, 0);
    m->msg.type = CG_MSG_DATA;
    m->msg.data_size = def.size;
    m->msg.data = m->buffer.data();
    m->msg.msg_index = static_cast<std::size_t>(index);
    m->msg.msg_id = def.id;
    m->msg.msg_name = def.name.c_str();
    Add(&Registry::messages, m);
    *msgptr = reinterpret_cast<cg_msg_t*>(&m->msg);
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_pub_msgfree(cg_publisher_t* pub, struct cg_msg_t* msg) {
    Publisher* p = AsPub(pub);
    if (p == nullptr || !Has(&Registry::messages, msg)) {
        return CG_ERR_INVALIDARGUMENT;
    }
    auto* m = reinterpret_cast<OwnedMessage*>(msg);
    if (m->pub != p) {
        return CG_ERR_INVALIDARGUMENT;
    }
    Remove(&Registry::messages, m);
    delete m;
    return CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_pub_post(cg_publisher_t* pub, struct cg_msg_t* msg, uint32_t flags) {
    Publisher* p = AsPub(pub);
    if (p == nullptr || !Has(&Registry::messages, msg)) {
        return CG_ERR_INVALIDARGUMENT;
    }
    auto* m = reinterpret_cast<OwnedMessage*>(msg);
    if (m->pub != p) {
        return CG_ERR_INVALIDARGUMENT;
    }
    return p->conn->Post(p, m, flags);
}

CG_API const char* CG_CALL cg_err_getstr(uint32_t errcode) {
    switch (errcode) {
    case CG_ERR_OK:
        return "Success";
    case CG_ERR_INTERNAL:
        return "Internal error";
    case CG_ERR_INVALIDARGUMENT:
        return "Invalid argument";
    case CG_ERR_UNSUPPORTED:
        return "Unsupported";
    case CG_ERR_TIMEOUT:
        return "Timeout";
    case CG_ERR_MORE:
        return "More data";
    case CG_ERR_INCORRECTSTATE:
        return "Incorrect state";
    case CG_ERR_DUPLICATEID:
        return "Duplicate id";
    case CG_ERR_BUFFERTOOSMALL:
        return "Buffer too small";
    case CG_ERR_OVERFLOW:
        return "Overflow";
    case CG_ERR_UNDERFLOW:
        return "Underflow";
    default:
        return "Unknown error";
    }
}

CG_API uint32_t CG_CALL cg_log_tracestr(const char* str) {
    return LogStr(Level::Trace, str);
}
CG_API uint32_t CG_CALL cg_log_debugstr(const char* str) {
    return LogStr(Level::Debug, str);
}
CG_API uint32_t CG_CALL cg_log_infostr(const char* str) {
    return LogStr(Level::Info, str);
}
CG_API uint32_t CG_CALL cg_log_errorstr(const char* str) {
    return LogStr(Level::Error, str);
}
CG_API uint32_t CG_CALL cg_log_warningstr(const char* str) {
    return LogStr(Level::Warning, str);
}

CG_API uint32_t CG_CALL cg_msg_dump(struct cg_msg_t* msg, cg_scheme_desc_t* schemedesc,
                                    char* buffer, size_t* bufsize) {
    if (msg == nullptr || bufsize == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    std::string text = "type=0x";
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", msg->type);
    text += hex;
    text += " size=" + std::to_string(msg->data_size);
    std::size_t index = 0;
    bool indexed = false;
    if (msg->type == CG_MSG_STREAM_CHANGED) {
        index = reinterpret_cast<cg_msg_streamdata_t*>(msg)->msg_index;
        indexed = true;
    } else if (msg->type == CG_MSG_DATA) {
        index = reinterpret_cast<cg_msg_data_t*>(msg)->msg_index;
        indexed = true;
    }
    if (indexed && schemedesc != nullptr && msg->data != nullptr) {
        cg_message_desc_t* m = schemedesc->messages;
        for (std::size_t i = 0; m != nullptr && i < index; ++i) {
            m = m->next;
        }
        if (m != nullptr) {
            text += std::string(" ") + m->name + ":";
            for (cg_field_desc_t* f = m->fields; f != nullptr; f = f->next) {
                std::string value;
                if (f->offset + f->size <= msg->data_size &&
                    FieldText(f->fild_type, static_cast<const char*>(msg->data) + f->offset,
                              value)) {
                    text += std::string(" ") + f->name + "=" + value;
                }
            }
        }
    }
    return CopyOut(text, buffer, bufsize);
}

CG_API uint32_t CG_CALL cg_bcd_get(const void* bcd, int64_t* intpart, int8_t* scale) {
    if (bcd == nullptr || intpart == nullptr || scale == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    GetDecimal(bcd, *intpart, *scale);
    return *scale < 0 || *scale > 38 ? CG_ERR_OVERFLOW : CG_ERR_OK;
}

CG_API uint32_t CG_CALL cg_getstr(const char* type, const void* data, char* buffer,
                                  size_t* buffer_size) {
    std::string text;
    if (!FieldText(type, data, text)) {
        return CG_ERR_INVALIDARGUMENT;
    }
    return CopyOut(text, buffer, buffer_size);
}

CG_API uint32_t CG_CALL cg_env_getcomp_ver(const char* component, uint32_t* major, uint32_t* minor,
                                           uint32_t* build) {
    return ComponentVersion(component, major, minor, build);
}

CG_API uint32_t CG_CALL cg_env_register_exithandler(CG_EXIT_HANDLER handler, void* data) {
    return RegisterExitHandler(handler, data);
}

} // extern "C"
