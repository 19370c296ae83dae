#include "connections/Connection.h"

#include "connections/ConnectionUtil.h"
#include "connections/ReplicaFeed.h"
#include "gateway/Cgate.h"
#include "platform/FormatSettings.h"
#include "store/Storage.h"

#if VORLEN_HISTORY
#include "history/Recorder.h"
#endif

#include <algorithm>
#include <cstring>
#include <utility>

namespace vorlen {

namespace {
using TRegistry = conn::TConnectionRegistry<TCGConnection>;
} // namespace

} // namespace vorlen

extern "C" {
// Registered with every market-data listener. The gateway runs it inside cg_conn_process on the
// connection's thread and hands back the connection and the element's StreamData address.
static std::uint32_t CG_CALL VorlenMDListenerCallback(cg_conn_t* conn, cg_listener_t*,
                                                      cg_msg_t* msg, void* data) {
    if (vorlen::TCGConnection* owner = vorlen::TRegistry::Find(conn)) {
        return owner->ProcessMessage(msg, data);
    }
    return 0;
}
}

namespace vorlen {

TCGConnection::TCGConnection(TCGStorage& storage, const TConnectorSettings& settings,
                             TJournalSink* memo)
    : FStorage(storage), FSettings(settings), Memo(memo) {}

TCGConnection::~TCGConnection() {
    Terminate();
    WaitFor();
    TRegistry::Remove(this);
}

std::string TCGConnection::ConnectionString(const TConnectorSettings& s) {
    return conn::ConnectionString(s, "", "marketdata");
}

std::uint32_t TCGConnection::CreateListener(cg_conn_t* conn, const std::string& settings,
                                            cg_listener_t*& lsn, void* userData) {
    const std::string text = conn::ToGateway(settings);
    cg_listener_t* created = nullptr;
    const std::uint32_t rc =
        CG().cg_lsn_new(conn, text.c_str(), &VorlenMDListenerCallback, userData, &created);
    lsn = rc == CG_ERR_OK ? created : nullptr;
    return rc;
}

void TCGConnection::UpdMemo() {
    if (Memo != nullptr) {
        Memo->AppendLine(JournalLine(MemoStr));
    }
}

void TCGConnection::Journal(std::string text) {
    // The UI thread may be waiting for the store while it runs this line.
    FBatch.Release();
    MemoStr = std::move(text);
    Synchronize([this] { UpdMemo(); });
}

namespace {
constexpr std::size_t kNoTable = static_cast<std::size_t>(-1);

std::size_t HeartbeatIndex(const cg_scheme_desc_t& scheme) {
    const cg_message_desc_t* m = scheme.messages;
    for (std::size_t i = 0; i < scheme.num_messages && m != nullptr; ++i, m = m->next) {
        if (m->name != nullptr && std::strcmp(m->name, "heartbeat") == 0) {
            return i;
        }
    }
    return kNoTable;
}
} // namespace

void TCGConnection::BeginRun() {
    // A run after a disconnection starts where the first one did; only the life numbers carry
    // over, so that the streams resume instead of being sent again from scratch.
    FOnline.store(false, std::memory_order_release);
    FActiveAnnounced = false;
    FProcessWarned = false;
    for (TListenerData& el : Lsnrs) {
        el.Lsn = nullptr;
        el.LsnParams.cgMsgOpen = false;
        el.LsnParams.cgMsgRplOnline = false;
    }
    FBeatIndex.assign(Lsnrs.size(), kNoTable);
    conn::ReportRunStart(FHealth);
}

void TCGConnection::EndRun(cg_conn_t* conn) {
    TRegistry::Remove(this);
    if (!FDisconnect.exchange(false)) {
        return;
    }
    for (TListenerData& el : Lsnrs) {
        conn::CloseListener(el.Lsn);
        el.LsnParams.cgMsgOpen = false;
        el.LsnParams.cgMsgRplOnline = false;
    }
    conn::CloseConnection(conn);
    FConn.store(nullptr, std::memory_order_release);
}

void TCGConnection::ReportReady() {
    if (FHealth == nullptr) {
        return;
    }
    FHealth->Ready.store(AllOnline(Lsnrs), std::memory_order_relaxed);
}

void TCGConnection::Execute() {
    BeginRun();
    RunConnection();
    conn::ReportRunEnd(FHealth);
}

void TCGConnection::RunConnection() {
    Journal("Создание соединения Макет-дата...");
    const std::string settings = conn::ToGateway(ConnectionString(FSettings));
    cg_conn_t* conn = nullptr;
    const std::uint32_t rc = CG().cg_conn_new(settings.c_str(), &conn);
    if (rc != CG_ERR_OK || conn == nullptr) {
        if (rc == CG_ERR_INTERNAL) {
            Journal("Ошибка: Внутренняя ошибка в функци создания соединения Макет-дата.");
        } else if (rc == CG_ERR_INVALIDARGUMENT) {
            Journal("Ошибка: Функции создания соединения Макет-дата были переданы некорректные "
                    "аргументы.");
        }
        Journal("Закрытие соединения Макет-дата...");
        return;
    }
    FConn.store(conn, std::memory_order_release);
    TRegistry::Add(conn, this);

    Journal("Соединение Макет-дата создано. Создание слушателей Макет-дата...");
    FWatch.assign(Lsnrs.size(), TListenerWatch{});
    for (std::size_t i = 0; i < Lsnrs.size(); ++i) {
        TListenerData& el = Lsnrs[i];
        el.StreamData.Pos = static_cast<std::int32_t>(i);
        if (CreateListener(conn, el.Settings, el.Lsn, &el.StreamData) != CG_ERR_OK) {
            Journal("Ошибка: Слушатель Макет-дата " + el.Settings + " не создан!");
            break;
        }
    }
    Journal("Слушатели Макет-дата созданы. Открытие соединения Макет-дата...");

    ReportReady();
    while (!Terminated()) {
        Pass(conn);
    }
    EndRun(conn);
    Journal("Закрытие соединения Макет-дата...");
}

void TCGConnection::Pass(cg_conn_t* conn) {
    if (!conn::KeepConnectionOpen(*this, conn, FHealth)) {
        return;
    }
    if (!FActiveAnnounced) {
        FActiveAnnounced = true;
        Journal("Соединение Макет-дата открыто. Идет получение начальных данных...");
    }
    conn::ProcessAndWarnOnce(
        conn, FProcessWarned, [this](const char* text) { Journal(text); },
        "Внимание: Состояние соединения Макет-дата не определено.");
    FBatch.Release();
    CheckListeners(conn);
}

void TCGConnection::CheckListeners(cg_conn_t* conn) {
    for (std::size_t i = 0; i < Lsnrs.size(); ++i) {
        CheckListener(conn, Lsnrs[i], FWatch[i]);
    }
}

void TCGConnection::CheckListener(cg_conn_t* conn, TListenerData& el, TListenerWatch& watch) {
    if (el.Lsn == nullptr && watch.Recreate) {
        // A listener destroyed in the error state comes back from its Settings once; if that
        // fails it stays gone like one whose first creation failed.
        watch.Recreate = false;
        if (CreateListener(conn, el.Settings, el.Lsn, &el.StreamData) != CG_ERR_OK) {
            Journal("Ошибка: Слушатель Макет-дата " + el.Settings + " не создан!");
        }
    }

    std::uint32_t state = 0;
    if (CG().cg_lsn_getstate(el.Lsn, &state) != CG_ERR_OK) {
        if (watch.LastSeen != -1) {
            Journal("Внимание: Состояние слушателя Макет-дата не определено.");
        }
        watch.LastSeen = -1;
        return;
    }
    const int previous = watch.LastSeen;
    watch.LastSeen = static_cast<int>(state);
    switch (state) {
    case CG_STATE_CLOSED: {
        const std::string text =
            conn::ToGateway(el.LsnParams.LifeStrNum + std::to_string(el.StreamData.LifeNum));
        CG().cg_lsn_open(el.Lsn, text.c_str());
        // A listener that does not leave the closed state is asked again on every pass, but
        // announced once.
        if (previous != CG_STATE_CLOSED) {
            Journal("Лисенер " + el.LsnParams.StrName + " открыт.");
        }
        break;
    }
    case CG_STATE_ERROR:
        if (CG().cg_lsn_close(el.Lsn) == CG_ERR_OK) {
            CG().cg_lsn_destroy(el.Lsn);
            el.Lsn = nullptr;
            watch.Recreate = true;
            watch.LastSeen = -2;
            Journal("Внимание: Лисенер потока " + el.LsnParams.StrName + "уничтожен.");
            Journal("Внимание: Ошибка Маркет-дата лисенера " + el.LsnParams.StrName + ".");
        } else if (previous != CG_STATE_ERROR) {
            Journal("Внимание: Ошибка Маркет-дата лисенера " + el.LsnParams.StrName + ".");
        }
        break;
    default:
        break;
    }
}

int TCGConnection::FindElement(const void* data) const {
    // The user data is only trusted when it is one of our own elements' StreamData.
    for (std::size_t i = 0; i < Lsnrs.size(); ++i) {
        if (&Lsnrs[i].StreamData == data) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const cg_scheme_desc_t* TCGConnection::ActiveScheme(const TListenerData& el) const {
    std::uint32_t state = 0;
    cg_scheme_desc_t* scheme = nullptr;
    if (CG().cg_lsn_getstate(el.Lsn, &state) == CG_ERR_OK && state == CG_STATE_ACTIVE &&
        CG().cg_lsn_getscheme(el.Lsn, &scheme) == CG_ERR_OK)
        return scheme;
    return nullptr;
}

void TCGConnection::Record(std::int32_t idx, const TListenerData& el, const cg_msg_t& msg,
                           const cg_scheme_desc_t* scheme) {
#if VORLEN_HISTORY
    const auto stream = static_cast<std::uint16_t>(idx);
    switch (msg.type) {
    case CG_MSG_OPEN:
        if (scheme != nullptr)
            FRecorder->StreamOpen(stream, el.StreamData.sName, *scheme);
        break;
    case CG_MSG_CLOSE:
        FRecorder->Offline(stream);
        break;
    case CG_MSG_STREAM_CHANGED:
        FRecorder->StreamData(stream, reinterpret_cast<const cg_msg_streamdata_t&>(msg));
        break;
    case CG_MSG_P2REPL_LIFENUM:
        FRecorder->LifeNum(stream, msg.data, msg.data_size);
        break;
    case CG_MSG_P2REPL_CLEARDELETED:
        FRecorder->ClearDeleted(stream, msg.data, msg.data_size);
        break;
    case CG_MSG_P2REPL_ONLINE:
        FRecorder->Online(stream);
        break;
    case CG_MSG_P2REPL_REPLSTATE:
        FRecorder->ReplState(stream, msg.data, msg.data_size);
        break;
    default:
        break;
    }
#else
    (void)idx;
    (void)el;
    (void)msg;
    (void)scheme;
#endif
}

std::uint32_t TCGConnection::ProcessMessage(const cg_msg_t* msg, void* data) {
    const int idx = FindElement(data);
    if (msg == nullptr || idx < 0) {
        return 0;
    }
    TListenerData& el = Lsnrs[static_cast<std::size_t>(idx)];
    if (msg->type != CG_MSG_STREAM_CHANGED) {
        // Only stream data is applied within the batch's hold; every other message calls the
        // store or the journal.
        FBatch.Release();
    }
    if (FHealth != nullptr) {
        // Only this thread counts, so a plain store publishes the count without a locked add.
        FHealth->Data.store(++FReceived, std::memory_order_relaxed);
    }
    const cg_scheme_desc_t* scheme = nullptr;
    if (msg->type == CG_MSG_OPEN) {
        scheme = ActiveScheme(el);
        if (scheme != nullptr && static_cast<std::size_t>(idx) < FBeatIndex.size()) {
            FBeatIndex[static_cast<std::size_t>(idx)] = HeartbeatIndex(*scheme);
            if (FHealth != nullptr && FBeatIndex[static_cast<std::size_t>(idx)] != kNoTable) {
                FHealth->HeartbeatWatched.store(true, std::memory_order_relaxed);
            }
        }
    } else if (msg->type == CG_MSG_STREAM_CHANGED && FHealth != nullptr &&
               static_cast<std::size_t>(idx) < FBeatIndex.size() &&
               reinterpret_cast<const cg_msg_streamdata_t*>(msg)->msg_index ==
                   FBeatIndex[static_cast<std::size_t>(idx)]) {
        FHealth->Heartbeats.store(++FBeats, std::memory_order_relaxed);
    }
    // The recording takes the message before the store does, so what it holds is never behind
    // the replica.
    if (FRecorder != nullptr) {
        Record(idx, el, *msg, scheme);
    }
    ApplyToReplica(FStorage, FBatch, idx, el, *msg, scheme);
    if (msg->type == CG_MSG_CLOSE) {
        ReportReady();
    } else if (msg->type == CG_MSG_P2REPL_ONLINE) {
        StreamOnline(el);
    }
    return 0;
}

void TCGConnection::StreamOnline(TListenerData& el) {
    Journal("Поток " + el.StreamData.sName + " Перешел в режим Он-Лайн");
    ReportReady();
    if (Online() || !AllOnline(Lsnrs)) {
        return;
    }
    FOnline.store(true, std::memory_order_release);
    Journal("Начальное получение данных завершено. Создание списков инструментов...");
    if (FStorage.BuildHeaders()) {
        Journal("Инструменты добавлены.");
        if (FOnConnected) {
            Synchronize(FOnConnected);
        }
    }
}

} // namespace vorlen
