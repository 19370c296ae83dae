#include "connections/FakeGateway.h"

#include "platform/Thread.h"

#include <cstring>
#include <thread>

namespace vorlen::test {

namespace {

FakeGateway* gFake = nullptr;

FakeConn* AsConn(cg_conn_t* c) {
    return reinterpret_cast<FakeConn*>(c);
}
FakeListener* AsLsn(cg_listener_t* l) {
    return reinterpret_cast<FakeListener*>(l);
}
FakePublisher* AsPub(cg_publisher_t* p) {
    return reinterpret_cast<FakePublisher*>(p);
}

std::unique_ptr<unsigned char[]> CopyBytes(const void* bytes, std::size_t size) {
    if (size == 0) {
        return nullptr;
    }
    auto p = std::make_unique<unsigned char[]>(size);
    if (bytes != nullptr) {
        std::memcpy(p.get(), bytes, size);
    }
    return p;
}

uint32_t ConnNew(const char* settings, cg_conn_t** conn) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (gFake->ConnNewResult != CG_ERR_OK) {
        return gFake->ConnNewResult;
    }
    FakeConn& c = gFake->Conns.emplace_back();
    c.Settings = settings;
    *conn = reinterpret_cast<cg_conn_t*>(&c);
    return CG_ERR_OK;
}

uint32_t ConnOpen(cg_conn_t* conn, const char*) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    FakeConn* c = AsConn(conn);
    ++c->Opens;
    c->State = gFake->ConnOpenActivates ? CG_STATE_ACTIVE : CG_STATE_OPENING;
    return CG_ERR_OK;
}

uint32_t ConnClose(cg_conn_t* conn) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->Calls.push_back("conn_close");
    FakeConn* c = AsConn(conn);
    ++c->Closes;
    c->State = CG_STATE_CLOSED;
    // A dropped connection takes its listeners and publishers down with it.
    for (FakeListener& l : gFake->Listeners) {
        if (l.Conn == c && !l.Destroyed) {
            l.State = CG_STATE_CLOSED;
        }
    }
    for (FakePublisher& p : gFake->Publishers) {
        p.State = CG_STATE_CLOSED;
    }
    return CG_ERR_OK;
}

uint32_t ConnGetState(cg_conn_t* conn, uint32_t* state) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    *state = AsConn(conn)->State;
    return CG_ERR_OK;
}

uint32_t ConnProcess(cg_conn_t* conn, uint32_t timeout, const char*) {
    std::deque<std::pair<FakeListener*, std::shared_ptr<FakeMessage>>> batch;
    uint32_t error = CG_ERR_OK;
    {
        std::lock_guard<std::mutex> lock(gFake->Mu);
        FakeConn* c = AsConn(conn);
        ++c->ProcessCalls;
        batch.swap(c->Queue);
        error = gFake->ProcessError;
    }
    for (auto& [lsn, msg] : batch) {
        CG_LISTENER_CB cb = nullptr;
        void* data = nullptr;
        {
            std::lock_guard<std::mutex> lock(gFake->Mu);
            if (!lsn->Destroyed) {
                cb = lsn->Cb;
                data = lsn->Data;
            }
        }
        if (cb != nullptr) {
            cb(conn, reinterpret_cast<cg_listener_t*>(lsn), msg->Msg(), data);
        }
        std::lock_guard<std::mutex> lock(gFake->Mu);
        ++gFake->Delivered;
    }
    if (error != CG_ERR_OK) {
        return error;
    }
    if (batch.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
        return CG_ERR_TIMEOUT;
    }
    return CG_ERR_OK;
}

uint32_t LsnNew(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb, void* data,
                cg_listener_t** lsn) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    const std::size_t n = gFake->Listeners.size();
    const uint32_t rc = n < gFake->LsnNewResults.size() ? gFake->LsnNewResults[n] : CG_ERR_OK;
    FakeListener& l = gFake->Listeners.emplace_back();
    l.Conn = AsConn(conn);
    l.Settings = settings;
    l.Cb = cb;
    l.Data = data;
    l.Scheme = gFake->LsnScheme;
    if (rc != CG_ERR_OK) {
        l.Destroyed = true; // attempted, never usable
        return rc;
    }
    *lsn = reinterpret_cast<cg_listener_t*>(&l);
    return CG_ERR_OK;
}

uint32_t LsnDestroy(cg_listener_t* lsn) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->Calls.push_back("lsn_destroy");
    if (lsn != nullptr) {
        AsLsn(lsn)->Destroyed = true;
    }
    return CG_ERR_OK;
}

uint32_t LsnGetState(cg_listener_t* lsn, uint32_t* state) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (lsn == nullptr || AsLsn(lsn)->Destroyed) {
        return CG_ERR_INVALIDARGUMENT;
    }
    *state = AsLsn(lsn)->State;
    return CG_ERR_OK;
}

uint32_t LsnOpen(cg_listener_t* lsn, const char* settings) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (lsn == nullptr || AsLsn(lsn)->Destroyed) {
        return CG_ERR_INVALIDARGUMENT;
    }
    FakeListener* l = AsLsn(lsn);
    l->Opens.emplace_back(settings ? settings : "");
    if (gFake->LsnOpenActivates) {
        l->State = CG_STATE_ACTIVE;
        l->Conn->Queue.emplace_back(l, MakeMessage(CG_MSG_OPEN));
        ++gFake->Queued;
    }
    return CG_ERR_OK;
}

uint32_t LsnClose(cg_listener_t* lsn) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->Calls.push_back("lsn_close");
    if (lsn == nullptr || AsLsn(lsn)->Destroyed) {
        return CG_ERR_INVALIDARGUMENT;
    }
    FakeListener* l = AsLsn(lsn);
    ++l->Closes;
    if (l->CloseResult == CG_ERR_OK) {
        l->State = CG_STATE_CLOSED;
    }
    return l->CloseResult;
}

uint32_t LsnGetScheme(cg_listener_t* lsn, cg_scheme_desc_t** scheme) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (lsn == nullptr || AsLsn(lsn)->Scheme == nullptr) {
        return CG_ERR_INCORRECTSTATE;
    }
    *scheme = AsLsn(lsn)->Scheme;
    return CG_ERR_OK;
}

uint32_t PubNew(cg_conn_t*, const char* settings, cg_publisher_t** pub) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    FakePublisher& p = gFake->Publishers.emplace_back();
    p.Settings = settings;
    if (gFake->PubNewResult != CG_ERR_OK) {
        return gFake->PubNewResult;
    }
    *pub = reinterpret_cast<cg_publisher_t*>(&p);
    return CG_ERR_OK;
}

uint32_t PubOpen(cg_publisher_t* pub, const char*) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    ++AsPub(pub)->Opens;
    AsPub(pub)->State = gFake->PubOpenActivates ? CG_STATE_ACTIVE : CG_STATE_OPENING;
    return CG_ERR_OK;
}

uint32_t PubClose(cg_publisher_t* pub) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->Calls.push_back("pub_close");
    ++AsPub(pub)->Closes;
    AsPub(pub)->State = CG_STATE_CLOSED;
    return CG_ERR_OK;
}

uint32_t PubDestroy(cg_publisher_t*) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->Calls.push_back("pub_destroy");
    return CG_ERR_OK;
}

uint32_t ConnDestroy(cg_conn_t*) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->Calls.push_back("conn_destroy");
    return CG_ERR_OK;
}

uint32_t PubGetState(cg_publisher_t* pub, uint32_t* state) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (pub == nullptr) {
        return CG_ERR_INVALIDARGUMENT;
    }
    *state = AsPub(pub)->State;
    return CG_ERR_OK;
}

uint32_t PubGetScheme(cg_publisher_t*, cg_scheme_desc_t** scheme) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (gFake->PubScheme == nullptr) {
        return CG_ERR_INCORRECTSTATE;
    }
    *scheme = gFake->PubScheme;
    return CG_ERR_OK;
}

uint32_t PubMsgNew(cg_publisher_t*, uint32_t idType, const void* id, cg_msg_t** msg) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    if (idType != CG_KEY_NAME || (std::strcmp(static_cast<const char*>(id), "AddOrder") != 0 &&
                                  std::strcmp(static_cast<const char*>(id), "DelOrder") != 0)) {
        return CG_ERR_INVALIDARGUMENT;
    }
    auto m = MakeMessage(CG_MSG_DATA);
    m->Payload = CopyBytes(nullptr, gFake->PubMsgSize);
    if (m->Payload) {
        std::memset(m->Payload.get(), 0xCC, gFake->PubMsgSize);
    }
    m->Data.data = m->Payload.get();
    m->Data.data_size = gFake->PubMsgSize;
    m->Data.msg_id = gFake->PubMsgId;
    *msg = m->Msg();
    gFake->LiveMessages[*msg] = m;
    return CG_ERR_OK;
}

uint32_t PubMsgFree(cg_publisher_t*, cg_msg_t* msg) {
    std::lock_guard<std::mutex> lock(gFake->Mu);
    gFake->LiveMessages.erase(msg);
    return CG_ERR_OK;
}

uint32_t PubPost(cg_publisher_t* pub, cg_msg_t* msg, uint32_t flags) {
    std::function<void(std::uint32_t)> hook;
    uint32_t rc = CG_ERR_OK;
    std::uint32_t userId = 0;
    {
        std::lock_guard<std::mutex> lock(gFake->Mu);
        if (flags != CG_PUB_NEEDREPLY) {
            return CG_ERR_INVALIDARGUMENT;
        }
        const auto* m = reinterpret_cast<const cg_msg_data_t*>(msg);
        FakePost post;
        post.UserId = userId = m->user_id;
        const auto* bytes = static_cast<const unsigned char*>(m->data);
        post.Bytes.assign(bytes, bytes + m->data_size);
        AsPub(pub)->Posts.push_back(std::move(post));
        rc = gFake->PostResult;
        hook = gFake->OnPost;
    }
    if (hook) {
        hook(userId);
    }
    return rc;
}

} // namespace

FakeScheme::FakeScheme(std::uint32_t schemeType) {
    FDesc.scheme_type = schemeType;
}

const char* FakeScheme::Keep(const std::string& s) {
    return FStrings.emplace_back(s).c_str();
}

cg_message_desc_t& FakeScheme::AddMessage(const std::string& name, std::uint32_t id,
                                          std::size_t size) {
    cg_message_desc_t& m = FMessages.emplace_back();
    m.name = Keep(name);
    m.id = id;
    m.size = size;
    if (FMessages.size() == 1) {
        FDesc.messages = &m;
    } else {
        FMessages[FMessages.size() - 2].next = &m;
    }
    FDesc.num_messages = FMessages.size();
    return m;
}

void FakeScheme::AddField(cg_message_desc_t& msg, const std::string& name, const std::string& type,
                          std::size_t size, std::size_t offset) {
    cg_field_desc_t& f = FFields.emplace_back();
    f.name = Keep(name);
    f.fild_type = Keep(type);
    f.size = size;
    f.offset = offset;
    if (msg.fields == nullptr) {
        msg.fields = &f;
    } else {
        cg_field_desc_t* last = msg.fields;
        while (last->next != nullptr) {
            last = last->next;
        }
        last->next = &f;
    }
    ++msg.num_fields;
}

cg_msg_t* FakeMessage::Msg() {
    return IsStream ? reinterpret_cast<cg_msg_t*>(&Stream) : reinterpret_cast<cg_msg_t*>(&Data);
}

std::shared_ptr<FakeMessage> MakeMessage(std::uint32_t type, const void* bytes, std::size_t size) {
    auto m = std::make_shared<FakeMessage>();
    m->Payload = CopyBytes(bytes, size);
    m->Data.type = type;
    m->Data.data = m->Payload.get();
    m->Data.data_size = size;
    return m;
}

std::shared_ptr<FakeMessage> MakeStreamData(std::size_t msgIndex, const void* bytes,
                                            std::size_t size) {
    auto m = std::make_shared<FakeMessage>();
    m->IsStream = true;
    m->Payload = CopyBytes(bytes, size);
    m->Stream.type = CG_MSG_STREAM_CHANGED;
    m->Stream.data = m->Payload.get();
    m->Stream.data_size = size;
    m->Stream.msg_index = msgIndex;
    return m;
}

std::shared_ptr<FakeMessage> MakeReply(std::uint32_t userId, const char* name, const void* bytes,
                                       std::size_t size) {
    auto m = MakeMessage(CG_MSG_DATA, bytes, size);
    m->Data.user_id = userId;
    if (name != nullptr) {
        m->Name = name;
        m->Data.msg_name = m->Name.c_str();
    }
    return m;
}

FakeGateway::FakeGateway() {
    FSaved = CG();
    gFake = this;
    TCGateEntryPoints& t = CG();
    t = TCGateEntryPoints{};
    t.cg_conn_new = &ConnNew;
    t.cg_conn_open = &ConnOpen;
    t.cg_conn_close = &ConnClose;
    t.cg_conn_destroy = &ConnDestroy;
    t.cg_pub_destroy = &PubDestroy;
    t.cg_conn_getstate = &ConnGetState;
    t.cg_conn_process = &ConnProcess;
    t.cg_lsn_new = &LsnNew;
    t.cg_lsn_destroy = &LsnDestroy;
    t.cg_lsn_getstate = &LsnGetState;
    t.cg_lsn_open = &LsnOpen;
    t.cg_lsn_close = &LsnClose;
    t.cg_lsn_getscheme = &LsnGetScheme;
    t.cg_pub_new = &PubNew;
    t.cg_pub_open = &PubOpen;
    t.cg_pub_close = &PubClose;
    t.cg_pub_getstate = &PubGetState;
    t.cg_pub_getscheme = &PubGetScheme;
    t.cg_pub_msgnew = &PubMsgNew;
    t.cg_pub_msgfree = &PubMsgFree;
    t.cg_pub_post = &PubPost;
}

FakeGateway::~FakeGateway() {
    CG() = FSaved;
    gFake = nullptr;
}

void FakeGateway::Deliver(std::size_t i, std::shared_ptr<FakeMessage> msg) {
    std::lock_guard<std::mutex> lock(Mu);
    FakeListener& l = Listeners.at(i);
    l.Conn->Queue.emplace_back(&l, std::move(msg));
    ++Queued;
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        ui::DrainUiQueue();
        if (pred()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool WaitDelivered(FakeGateway& g) {
    return WaitUntil(
        [&] { return g.With([](FakeGateway& f) { return f.Delivered == f.Queued; }); });
}

std::vector<std::string> Texts(const TMemoryJournal& journal) {
    std::vector<std::string> r;
    for (const std::string& line : journal.Lines) {
        const auto at = line.find(" --> ");
        r.push_back(at == std::string::npos ? line : line.substr(at + 5));
    }
    return r;
}

int CountText(const TMemoryJournal& journal, const std::string& text) {
    int n = 0;
    for (const std::string& t : Texts(journal)) {
        n += t == text ? 1 : 0;
    }
    return n;
}

bool HasText(const TMemoryJournal& journal, const std::string& text) {
    return CountText(journal, text) > 0;
}

} // namespace vorlen::test
