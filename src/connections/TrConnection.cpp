#include "connections/TrConnection.h"

#include "connections/ConnectionUtil.h"
#include "gateway/Cgate.h"
#include "platform/FormatSettings.h"
#include "store/FieldConversion.h"

#if VORLEN_HISTORY
#include "history/Recorder.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

namespace vorlen {

namespace {
using TRegistry = conn::TConnectionRegistry<TCGTRConnection>;

constexpr std::uint32_t kLastTransId = 2147483646;
constexpr std::int64_t kSpeedWindowMs = 1000;

// Where each message field of "AddOrder" comes from in TAddOrderParams, and how wide it is there.
struct TOrderField {
    const char* Name;
    std::size_t Offset;
    std::size_t Width;
};

#define VORLEN_ORDER_FIELD(name, member)                                                           \
    TOrderField {                                                                                  \
        name, offsetof(TAddOrderParams, member), sizeof(TAddOrderParams::member)                   \
    }

const TOrderField kOrderFields[] = {
    VORLEN_ORDER_FIELD("broker_code", broker_code),
    VORLEN_ORDER_FIELD("isin_id", isin_id),
    VORLEN_ORDER_FIELD("client_code", client_code),
    VORLEN_ORDER_FIELD("dir", dir),
    VORLEN_ORDER_FIELD("type", atype),
    VORLEN_ORDER_FIELD("amount", amount),
    VORLEN_ORDER_FIELD("price", price),
    VORLEN_ORDER_FIELD("comment", comment),
    VORLEN_ORDER_FIELD("broker_to", broker_to),
    VORLEN_ORDER_FIELD("ext_id", ext_id),
    VORLEN_ORDER_FIELD("is_check_limit", is_check_limit),
    VORLEN_ORDER_FIELD("date_exp", date_exp),
    VORLEN_ORDER_FIELD("dont_check_money", dont_check_money),
    VORLEN_ORDER_FIELD("match_ref", match_ref),
    VORLEN_ORDER_FIELD("ncc_request", ncc_request),
};

const TOrderField kDelFields[] = {
    {"broker_code", offsetof(TDelOrderParams, broker_code), sizeof(TDelOrderParams::broker_code)},
    {"order_id", offsetof(TDelOrderParams, order_id), sizeof(TDelOrderParams::order_id)},
    {"client_code", offsetof(TDelOrderParams, client_code), sizeof(TDelOrderParams::client_code)},
    {"isin_id", offsetof(TDelOrderParams, isin_id), sizeof(TDelOrderParams::isin_id)},
};

#undef VORLEN_ORDER_FIELD

template <class TParams>
struct TFieldsOf;
template <>
struct TFieldsOf<TAddOrderParams> {
    static constexpr const TOrderField* Begin = std::begin(kOrderFields);
    static constexpr const TOrderField* End = std::end(kOrderFields);
};
template <>
struct TFieldsOf<TDelOrderParams> {
    static constexpr const TOrderField* Begin = std::begin(kDelFields);
    static constexpr const TOrderField* End = std::end(kDelFields);
};

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Copies the record into the message's data by field name. Never more than the record's own
// field (whatever size the scheme claims) and never past the message's data.
template <class TParams>
void FillOrder(const cg_message_desc_t& desc, cg_msg_data_t& msg, const TParams& aop) {
    if (msg.data == nullptr) {
        return;
    }
    const auto* src = reinterpret_cast<const unsigned char*>(&aop);
    auto* dst = static_cast<unsigned char*>(msg.data);
    const cg_field_desc_t* f = desc.fields;
    for (std::size_t j = 0; j < desc.num_fields && f != nullptr; ++j, f = f->next) {
        if (f->name == nullptr || f->offset >= msg.data_size) {
            continue;
        }
        for (const TOrderField* of = TFieldsOf<TParams>::Begin; of != TFieldsOf<TParams>::End;
             ++of) {
            if (std::strcmp(f->name, of->Name) == 0) {
                const std::size_t n = std::min({f->size, of->Width, msg.data_size - f->offset});
                std::memcpy(dst + f->offset, src + of->Offset, n);
                break;
            }
        }
    }
}

} // namespace

} // namespace vorlen

extern "C" {
// Registered with the reply listener; runs inside cg_conn_process on the transaction thread.
static std::uint32_t CG_CALL VorlenTRListenerCallback(cg_conn_t* conn, cg_listener_t*,
                                                      cg_msg_t* msg, void* data) {
    if (vorlen::TCGTRConnection* owner = vorlen::TRegistry::Find(conn)) {
        return owner->ProcessMessage(msg, data);
    }
    return 0;
}
}

namespace vorlen {

TCGTRConnection::TCGTRConnection(const TConnectorSettings& settings, TJournalSink* memo,
                                 TMsClock clock)
    : FSettings(settings), Memo(memo), FClock(clock ? std::move(clock) : TMsClock(&SteadyMs)) {}

TCGTRConnection::~TCGTRConnection() {
    Terminate();
    WaitFor();
    TRegistry::Remove(this);
}

std::string TCGTRConnection::ConnectionString(const TConnectorSettings& s) {
    return conn::ConnectionString(s, "tr_", "transaction");
}

std::string TCGTRConnection::PublisherSettings(const std::string& pubName,
                                               const std::string& schemVer) {
    std::string r = "p2mq://FORTS_SRV;category=FORTS_MSG;name=" + pubName + ";timeout=5000";
    if (!schemVer.empty()) {
        r += ";scheme=|FILE|forts_messages.ini|message;version=" + schemVer;
    }
    return r;
}

std::string TCGTRConnection::ReplyListenerSettings(const std::string& pubName) {
    return "p2mqreply://;ref=" + pubName;
}

std::uint32_t TCGTRConnection::CreateListener(cg_conn_t* conn, const std::string& settings,
                                              cg_listener_t*& lsn, void* userData) {
    const std::string text = conn::ToGateway(settings);
    cg_listener_t* created = nullptr;
    const std::uint32_t rc =
        CG().cg_lsn_new(conn, text.c_str(), &VorlenTRListenerCallback, userData, &created);
    lsn = rc == CG_ERR_OK ? created : nullptr;
    return rc;
}

void TCGTRConnection::UpdMemo() {
    if (Memo != nullptr) {
        Memo->AppendLine(JournalLine(MemoStr));
    }
}

void TCGTRConnection::Journal(std::string text) {
    MemoStr = std::move(text);
    Synchronize([this] { UpdMemo(); });
}

void TCGTRConnection::BeginRun() {
    // Pending replies and the id counter outlive a disconnection; what belongs to one
    // connection does not.
    FActiveAnnounced = false;
    FProcessWarned = false;
    FLsnWarned = false;
    FLsnState = 0;
    FSchemeAnnounced = false;
    LsnScheme = nullptr;
    Lsnr.Lsn = nullptr;
    Lsnr.LsnParams.cgMsgOpen = false;
    conn::ReportRunStart(FHealth);
}

void TCGTRConnection::EndRun(cg_conn_t* conn) {
    TRegistry::Remove(this);
    const bool disconnect = FDisconnect.exchange(false);
    if (disconnect) {
        conn::CloseListener(Lsnr.Lsn);
        LsnScheme = nullptr;
        Lsnr.LsnParams.cgMsgOpen = false;
    }
    {
        // Experts may still be running: from now on their orders are refused instead of being
        // posted on a connection that nobody processes any more.
        std::lock_guard<std::mutex> lock(FPubLock);
        FPubState.store(CG_STATE_CLOSED, std::memory_order_release);
        if (disconnect && Pub != nullptr) {
            CG().cg_pub_close(Pub);
            if (CG().cg_pub_destroy != nullptr) {
                CG().cg_pub_destroy(Pub);
            }
        }
        Pub = nullptr;
        PubScheme = nullptr;
    }
    if (disconnect) {
        conn::CloseConnection(conn);
        FConn.store(nullptr, std::memory_order_release);
    }
}

void TCGTRConnection::Execute() {
    BeginRun();
    RunConnection();
    conn::ReportRunEnd(FHealth);
}

void TCGTRConnection::RunConnection() {
    Journal("Создание соединения Трансакции...");
    const std::string settings = conn::ToGateway(ConnectionString(FSettings));
    cg_conn_t* conn = nullptr;
    const std::uint32_t rc = CG().cg_conn_new(settings.c_str(), &conn);
    if (rc != CG_ERR_OK || conn == nullptr) {
        if (rc == CG_ERR_INTERNAL) {
            Journal("Ошибка: Внутренняя ошибка в функци создания соединения Трансакции.");
        } else if (rc == CG_ERR_INVALIDARGUMENT) {
            Journal("Ошибка: Функции создания соединения Трансакции были переданы некорректные "
                    "аргументы.");
        }
        return;
    }
    FConn.store(conn, std::memory_order_release);
    TRegistry::Add(conn, this);

    Journal("Соединение Трансакции создано. Создание Паблишера...");
    const std::string pubSettings = conn::ToGateway(PublisherSettings(PubName, SchemVer));
    bool pubCreated = false;
    {
        std::lock_guard<std::mutex> lock(FPubLock);
        cg_publisher_t* pub = nullptr;
        pubCreated = CG().cg_pub_new(conn, pubSettings.c_str(), &pub) == CG_ERR_OK;
        Pub = pubCreated ? pub : nullptr;
    }
    if (!pubCreated) {
        Journal("Ошибка: Паблишер не создан!");
    }
    Journal("Паблишер создан. Создание слушателя Трансакций...");

    Lsnr.Settings = ReplyListenerSettings(PubName);
    if (CreateListener(conn, Lsnr.Settings, Lsnr.Lsn, &Lsnr.StreamData) != CG_ERR_OK) {
        Journal("Ошибка: Слушатель Трансакции " + Lsnr.Settings + " не создан!");
    }
    Journal("Слушатель Трансакций создан. Открытие соединения Трансакции...");

    while (!Terminated()) {
        Pass(conn);
    }
    EndRun(conn);
}

void TCGTRConnection::Pass(cg_conn_t* conn) {
    if (!conn::KeepConnectionOpen(*this, conn, FHealth)) {
        return;
    }
    if (!FActiveAnnounced) {
        FActiveAnnounced = true;
        Journal("Соединение Трансакции открыто.");
    }
    conn::ProcessAndWarnOnce(
        conn, FProcessWarned, [this](const char* text) { Journal(text); },
        "Внимание: Состояние соединения Трансакции не определено.");
    CheckPublisher();
    CheckListener();
    if (FHealth != nullptr) {
        FHealth->Ready.store(PubState() == CG_STATE_ACTIVE && FLsnState == CG_STATE_ACTIVE,
                             std::memory_order_relaxed);
    }
}

void TCGTRConnection::CheckPublisher() {
    bool announce = false;
    {
        // Never wait for a post in progress: a gateway whose post needs this thread to go on
        // processing the connection would otherwise hang both. The next pass looks again.
        std::unique_lock<std::mutex> lock(FPubLock, std::try_to_lock);
        if (!lock.owns_lock()) {
            return;
        }
        std::uint32_t state = 0;
        if (CG().cg_pub_getstate(Pub, &state) != CG_ERR_OK) {
            return;
        }
        FPubState.store(static_cast<std::int32_t>(state), std::memory_order_release);
        switch (state) {
        case CG_STATE_CLOSED:
            CG().cg_pub_open(Pub, nullptr);
            break;
        case CG_STATE_ERROR:
            CG().cg_pub_close(Pub);
            // The scheme is only good while the publisher is open.
            FSchemeAnnounced = false;
            PubScheme = nullptr;
            break;
        case CG_STATE_ACTIVE:
            if (!FSchemeAnnounced) {
                FSchemeAnnounced = true;
                cg_scheme_desc_t* scheme = nullptr;
                if (CG().cg_pub_getscheme(Pub, &scheme) == CG_ERR_OK) {
                    PubScheme = scheme;
                    announce = true;
                }
            }
            break;
        default:
            break;
        }
    }
    // Written outside FPubLock: a journal line waits for the UI thread.
    if (announce) {
        Journal("Паблишер открыт. Схема данных получена.");
    }
}

void TCGTRConnection::CheckListener() {
    std::uint32_t state = 0;
    const bool known = CG().cg_lsn_getstate(Lsnr.Lsn, &state) == CG_ERR_OK;
    FLsnState = known ? state : CG_STATE_CLOSED;
    if (!known) {
        // A listener that could not be created fails here on every pass; one line says it.
        if (!FLsnWarned) {
            FLsnWarned = true;
            Journal("Внимание: Состояние слушателя Трансакций не определено.");
        }
        return;
    }
    FLsnWarned = false;
    if (state == CG_STATE_CLOSED) {
        const std::string text =
            conn::ToGateway(Lsnr.LsnParams.LifeStrNum + std::to_string(Lsnr.StreamData.LifeNum));
        CG().cg_lsn_open(Lsnr.Lsn, text.c_str());
    } else if (state == CG_STATE_ERROR) {
        CG().cg_lsn_close(Lsnr.Lsn);
        LsnScheme = nullptr;
    }
}

std::uint32_t TCGTRConnection::ProcessMessage(const cg_msg_t* msg, void* data) {
    if (msg == nullptr || data != &Lsnr.StreamData) {
        return 0;
    }
    if (FHealth != nullptr) {
        FHealth->Data.store(++FReceived, std::memory_order_relaxed);
    }
    switch (msg->type) {
    case CG_MSG_OPEN: {
        std::uint32_t state = 0;
        bool ok = CG().cg_lsn_getstate(Lsnr.Lsn, &state) == CG_ERR_OK;
        if (ok && state == CG_STATE_ACTIVE) {
            cg_scheme_desc_t* scheme = nullptr;
            ok = CG().cg_lsn_getscheme(Lsnr.Lsn, &scheme) == CG_ERR_OK;
            if (ok) {
                LsnScheme = scheme;
            }
#if VORLEN_HISTORY
            if (ok && scheme != nullptr && FRecorder != nullptr)
                FRecorder->StreamOpen(history::kTransactionStream, Lsnr.Settings, *scheme);
#endif
        }
        if (ok) {
            Lsnr.LsnParams.cgMsgOpen = true;
        }
        break;
    }
    case CG_MSG_CLOSE:
#if VORLEN_HISTORY
        if (FRecorder != nullptr)
            FRecorder->Offline(history::kTransactionStream);
#endif
        // The listener's scheme is not to be read once it has closed.
        LsnScheme = nullptr;
        Lsnr.LsnParams.cgMsgOpen = false;
        break;
    case CG_MSG_DATA:
#if VORLEN_HISTORY
        if (FRecorder != nullptr)
            FRecorder->TransReply(history::kTransactionStream,
                                  *reinterpret_cast<const cg_msg_data_t*>(msg));
#endif
        StoreReply(msg);
        break;
    case CG_MSG_P2MQ_TIMEOUT:
        Journal("Внимание: Истекло время ожидания ответа на команду.");
        break;
    default:
        break;
    }
    return 0;
}

void TCGTRConnection::StoreReply(const cg_msg_t* msg) {
    if (LsnScheme == nullptr) {
        return;
    }
    const auto& reply = *reinterpret_cast<const cg_msg_data_t*>(msg);
    TMutexGuard guard(TRMutex);
    const auto it = MQRepl.find(reply.user_id);
    if (it == MQRepl.end()) {
        return; // nobody is waiting for it
    }
    TReplData& entry = it->second;
    const cg_message_desc_t* desc = LsnScheme->messages;
    for (std::size_t i = 0; i < LsnScheme->num_messages && desc != nullptr;
         ++i, desc = desc->next) {
        if (reply.msg_name == nullptr || desc->name == nullptr ||
            std::strcmp(desc->name, reply.msg_name) != 0) {
            continue;
        }
        const cg_field_desc_t* f = desc->fields;
        for (std::size_t j = 0; j < desc->num_fields && f != nullptr; ++j, f = f->next) {
            if (f->name == nullptr) {
                continue;
            }
            TField field;
            field.FType = f->fild_type;
            field.Data = FieldToVariant(*f, reply.data, reply.data_size);
            entry.Fields[conn::FromGateway(f->name, std::strlen(f->name))] = std::move(field);
        }
        break;
    }
    FReplied.insert(reply.user_id);
    entry.Event.Set();
}

bool TCGTRConnection::GetTrandID(std::uint32_t& id) {
    TMutexGuard guard(TRMutex);
    ++Trans_id;
    if (Trans_id > kLastTransId) {
        Trans_id = 1;
    }
    id = Trans_id;
    return true;
}

bool TCGTRConnection::RegEvent(std::uint32_t Key, std::int32_t isin_id, TEvent Event) {
    TMutexGuard guard(TRMutex);
    const auto [it, inserted] = MQRepl.try_emplace(Key);
    if (!inserted) {
        return false;
    }
    it->second.isin_id = isin_id;
    it->second.Event = Event;
    FReplied.erase(Key);
    return true;
}

void TCGTRConnection::Withdraw(std::uint32_t Key, TEvent Event) {
    TMutexGuard guard(TRMutex);
    const auto it = MQRepl.find(Key);
    if (it != MQRepl.end() && it->second.Event == Event) {
        MQRepl.erase(it);
    }
}

bool TCGTRConnection::GetReplData(std::uint32_t Key, TReplData& Data) {
    TMutexGuard guard(TRMutex);
    const auto it = MQRepl.find(Key);
    if (it == MQRepl.end()) {
        return false;
    }
    Data = std::move(it->second);
    MQRepl.erase(it);
    FReplied.erase(Key);
    return true;
}

bool TCGTRConnection::TakeReply(std::uint32_t Key, TReplData& Data) {
    TMutexGuard guard(TRMutex);
    const auto it = MQRepl.find(Key);
    if (it == MQRepl.end() || FReplied.erase(Key) == 0) {
        return false;
    }
    Data = std::move(it->second);
    MQRepl.erase(it);
    return true;
}

bool TCGTRConnection::CheckTrSpeed() {
    const std::int64_t now = FClock();
    const std::int32_t max = TrMax.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(FSpeedLock);
    // A post counts against the limit until more than 1000 ms have passed since it. Counting
    // over the last 1000 ms (not per fixed window) keeps a burst at the end of one window and
    // another at the start of the next from doubling the rate.
    while (!FAdmitted.empty() && now - FAdmitted.front() > kSpeedWindowMs) {
        FAdmitted.pop_front();
    }
    if (max <= 0 || FAdmitted.size() >= static_cast<std::size_t>(max)) {
        return false;
    }
    FAdmitted.push_back(now);
    return true;
}

std::size_t TCGTRConnection::TrRoom() {
    const std::int64_t now = FClock();
    const std::int32_t max = TrMax.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(FSpeedLock);
    while (!FAdmitted.empty() && now - FAdmitted.front() > kSpeedWindowMs) {
        FAdmitted.pop_front();
    }
    const auto cap = static_cast<std::size_t>(std::max(max, 0));
    return cap > FAdmitted.size() ? cap - FAdmitted.size() : 0;
}

bool TCGTRConnection::AddOrder(std::uint32_t tr_id, std::int32_t isin_id,
                               const TAddOrderParams& AOP, TEvent Event, bool* throttled) {
    return PostRegistered(tr_id, isin_id, "AddOrder", AOP, Event, throttled);
}

bool TCGTRConnection::DelOrder(std::uint32_t tr_id, std::int32_t isin_id,
                               const TDelOrderParams& DOP, TEvent Event, bool* throttled) {
    return PostRegistered(tr_id, isin_id, "DelOrder", DOP, Event, throttled);
}

template <class TParams>
bool TCGTRConnection::PostRegistered(std::uint32_t tr_id, std::int32_t isin_id, const char* msgName,
                                     const TParams& params, TEvent Event, bool* throttled) {
    if (throttled != nullptr) {
        *throttled = false;
    }
    if (PubState() != CG_STATE_ACTIVE) {
        return false;
    }
    // Registered before the post, so a reply that comes back at once already finds its entry;
    // withdrawn again when nothing was posted.
    if (!RegEvent(tr_id, isin_id, Event)) {
        return false;
    }
    const bool admitted = CheckTrSpeed();
    if (!admitted && throttled != nullptr) {
        *throttled = true;
    }
    const bool posted = admitted && Post(tr_id, msgName, params);
    if (!posted) {
        Withdraw(tr_id, Event);
    }
    return posted;
}

template <class TParams>
bool TCGTRConnection::Post(std::uint32_t tr_id, const char* msgName, const TParams& params) {
    std::lock_guard<std::mutex> lock(FPubLock);
    // Without the scheme the order's fields cannot be placed; an empty order is not sent.
    if (Pub == nullptr || PubScheme == nullptr) {
        return false;
    }
    cg_msg_t* msg = nullptr;
    if (CG().cg_pub_msgnew(Pub, CG_KEY_NAME, msgName, &msg) != CG_ERR_OK || msg == nullptr) {
        return false;
    }
    auto& data = *reinterpret_cast<cg_msg_data_t*>(msg);
    data.user_id = tr_id;
    const cg_message_desc_t* desc = PubScheme->messages;
    for (std::size_t i = 0; i < PubScheme->num_messages && desc != nullptr;
         ++i, desc = desc->next) {
        if (desc->id == data.msg_id) {
            FillOrder(*desc, data, params);
            break;
        }
    }
    const bool posted = CG().cg_pub_post(Pub, msg, CG_PUB_NEEDREPLY) == CG_ERR_OK;
    CG().cg_pub_msgfree(Pub, msg);
    return posted;
}

} // namespace vorlen
