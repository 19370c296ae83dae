#pragma once

// A scripted stand-in for the gateway, installed into the entry-point table for one test.
// Connections, listeners and publishers are plain records whose states the test sets; messages
// queued by the test are delivered to the listener callbacks inside the fake cg_conn_process, on
// the calling connection's thread, as the real gateway does.

#include "gateway/Cgate.h"
#include "gateway/GatewayCInterface.h"
#include "platform/Journal.h"
#include "settings/ConnectorSettings.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorlen::test {

// A scheme with stable addresses, built message by message.
class FakeScheme {
public:
    explicit FakeScheme(std::uint32_t schemeType = CG_SCHEME_BIN);
    FakeScheme(const FakeScheme&) = delete;
    FakeScheme& operator=(const FakeScheme&) = delete;

    cg_message_desc_t& AddMessage(const std::string& name, std::uint32_t id, std::size_t size);
    void AddField(cg_message_desc_t& msg, const std::string& name, const std::string& type,
                  std::size_t size, std::size_t offset);
    cg_scheme_desc_t* Desc() { return &FDesc; }

private:
    const char* Keep(const std::string& s);
    cg_scheme_desc_t FDesc{};
    std::deque<cg_message_desc_t> FMessages;
    std::deque<cg_field_desc_t> FFields;
    std::deque<std::string> FStrings;
};

// One message as the gateway hands it over; the payload is allocated at exactly its size so that
// the sanitizers see any read past it.
struct FakeMessage {
    cg_msg_streamdata_t Stream{};
    cg_msg_data_t Data{};
    bool IsStream = false;
    std::unique_ptr<unsigned char[]> Payload;
    std::string Name;
    cg_msg_t* Msg();
};

std::shared_ptr<FakeMessage> MakeMessage(std::uint32_t type, const void* bytes = nullptr,
                                         std::size_t size = 0);
std::shared_ptr<FakeMessage> MakeStreamData(std::size_t msgIndex, const void* bytes,
                                            std::size_t size);
std::shared_ptr<FakeMessage> MakeReply(std::uint32_t userId, const char* name, const void* bytes,
                                       std::size_t size);

struct FakeConn;

struct FakeListener {
    FakeConn* Conn = nullptr;
    std::string Settings;
    CG_LISTENER_CB Cb = nullptr;
    void* Data = nullptr;
    std::uint32_t State = CG_STATE_CLOSED;
    cg_scheme_desc_t* Scheme = nullptr;
    std::vector<std::string> Opens; // texts given to cg_lsn_open
    int Closes = 0;
    std::uint32_t CloseResult = CG_ERR_OK;
    bool Destroyed = false;
};

struct FakeConn {
    std::string Settings;
    std::uint32_t State = CG_STATE_CLOSED;
    int Opens = 0;
    int Closes = 0;
    std::uint64_t ProcessCalls = 0;
    std::deque<std::pair<FakeListener*, std::shared_ptr<FakeMessage>>> Queue;
};

struct FakePost {
    std::uint32_t UserId = 0;
    std::vector<unsigned char> Bytes;
};

struct FakePublisher {
    std::string Settings;
    std::uint32_t State = CG_STATE_CLOSED;
    int Opens = 0;
    int Closes = 0;
    std::vector<FakePost> Posts;
};

class FakeGateway {
public:
    FakeGateway();  // installs itself into CG()
    ~FakeGateway(); // restores the table
    FakeGateway(const FakeGateway&) = delete;
    FakeGateway& operator=(const FakeGateway&) = delete;

    // Everything below is guarded by Mu; the test takes it through With.
    template <class F>
    auto With(F f) {
        std::lock_guard<std::mutex> lock(Mu);
        return f(*this);
    }

    // Script.
    std::uint32_t ConnNewResult = CG_ERR_OK;
    std::vector<std::uint32_t> LsnNewResults; // by creation order; missing entries succeed
    std::uint32_t PubNewResult = CG_ERR_OK;
    bool ConnOpenActivates = true;
    bool LsnOpenActivates = true; // and queues the open message
    bool PubOpenActivates = true;
    std::uint32_t ProcessError = CG_ERR_OK; // returned by every cg_conn_process when set
    cg_scheme_desc_t* LsnScheme = nullptr;  // given to listeners created from now on
    cg_scheme_desc_t* PubScheme = nullptr;
    std::uint32_t PubMsgId = 0;
    std::size_t PubMsgSize = 0;
    std::uint32_t PostResult = CG_ERR_OK;
    // Runs inside cg_pub_post, without Mu held, after the post has been recorded.
    std::function<void(std::uint32_t userId)> OnPost;

    // State.
    std::deque<FakeConn> Conns;
    std::deque<FakeListener> Listeners;
    std::deque<FakePublisher> Publishers;
    std::map<cg_msg_t*, std::shared_ptr<FakeMessage>> LiveMessages; // from cg_pub_msgnew
    // Closings and destructions of connections, listeners and publishers, in call order.
    std::vector<std::string> Calls;
    std::uint64_t Queued = 0;
    std::uint64_t Delivered = 0;

    // Queues a message for listener i (creation order); delivered by the next process call.
    void Deliver(std::size_t i, std::shared_ptr<FakeMessage> msg);
    // Under Mu: how many listeners have been created.
    std::size_t ListenerCount() const { return Listeners.size(); }

    std::mutex Mu;

private:
    TCGateEntryPoints FSaved;
};

// Waits, while serving the UI-call queue (the test thread is the UI thread), until pred is true;
// false after the timeout.
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Waits until every queued message has been delivered.
bool WaitDelivered(FakeGateway& g);

// The journal's texts without their date and time.
std::vector<std::string> Texts(const TMemoryJournal& journal);
int CountText(const TMemoryJournal& journal, const std::string& text);
bool HasText(const TMemoryJournal& journal, const std::string& text);

// The connection settings of the settings dialog's defaults, as both connection threads read them.
inline TConnectorSettings DefaultSettings() {
    TConnectorSettings s;
    s.ConType = "p2tcp";
    s.Host = "127.0.0.1";
    s.Port = "4001";
    s.ProgName = "vorlen";
    s.RoutTOut = "2000";
    s.LocTOut = "500";
    s.BuffSize = "1024000";
    return s;
}

} // namespace vorlen::test
