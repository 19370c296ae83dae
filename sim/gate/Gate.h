#pragma once

// Inside the offline gateway library: the environment, connections, listeners and publishers
// behind the C entry points of GatewayCInterface.h.

#include "../../src/gateway/GatewayCInterface.h"
#include "Catalogue.h"
#include "Net.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vsim::gate {

using Clock = std::chrono::steady_clock;

// ---- environment (Env.cpp) ----

enum class Level { Trace = 0, Debug, Info, Warning, Error, None };
void LogLine(Level level, const char* fmt, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;
bool EnvIsOpen();
// Finds a file named in a settings string: as given, then beside the library, then in the
// installation folder (the parent of bin/) and its scheme/ folder.
std::string ResolvePath(const std::string& path);

// ---- scheme descriptors (Scheme.cpp) ----

// A cg_scheme_desc_t with everything it points to, alive as long as this object.
class SchemeDesc {
public:
    explicit SchemeDesc(std::vector<TableDef> tables);
    SchemeDesc(const SchemeDesc&) = delete;
    SchemeDesc& operator=(const SchemeDesc&) = delete;

    cg_scheme_desc_t* Desc() { return &desc_; }
    const std::vector<TableDef>& Tables() const { return tables_; }
    cg_message_desc_t* Message(std::size_t i) { return &messages_[i]; }
    int Find(std::string_view name) const;
    int FindId(std::uint32_t id) const;

private:
    std::vector<TableDef> tables_;
    std::vector<cg_message_desc_t> messages_;
    std::vector<std::vector<cg_field_desc_t>> fields_;
    cg_scheme_desc_t desc_{};
};

// Loads "|FILE|path|section" into tables; false with a logged reason.
bool LoadSchemeFile(const std::string& reference, std::vector<TableDef>& out);

// One message layout as the caller's scheme has it, with the plan that moves a record between
// it and the catalogue's layout (empty when both layouts are the same).
struct Layout {
    const TableDef* own = nullptr;
    const TableDef* wire = nullptr;
    bool direct = true;
    std::vector<CopyStep> plan;
    void Bind(const TableDef* ownDef, const TableDef* wireDef);
    // Copies a record of one layout into a zeroed record of the other.
    void ToOwn(const char* from, char* to) const;
    void ToWire(const char* from, char* to) const;
};

class Connection;

// ---- listeners and publishers (Objects.cpp) ----

class Listener {
public:
    enum class Kind { Repl, Reply };
    static std::uint32_t Create(Connection* conn, const char* settings, CG_LISTENER_CB cb,
                                void* data, Listener** out);

    Connection* conn = nullptr;
    Kind kind = Kind::Repl;
    CG_LISTENER_CB cb = nullptr;
    void* data = nullptr;
    std::string stream;
    std::string ref;
    std::unique_ptr<SchemeDesc> scheme;
    std::vector<Layout> layouts;        // per scheme message
    std::vector<std::string> subTables; // tables asked of the router, in slot order
    std::vector<int> slotToMsg;         // slot -> scheme message index
    // Guarded by the connection's mutex:
    std::uint32_t state = CG_STATE_CLOSED;
    std::uint32_t subId = 0;
    bool announced = false; // the open message has been delivered
};

struct OwnedMessage;

class Publisher {
public:
    static std::uint32_t Create(Connection* conn, const char* settings, Publisher** out);

    Connection* conn = nullptr;
    std::string name;
    std::uint32_t timeoutMs = 5000;
    std::unique_ptr<SchemeDesc> scheme;
    std::vector<Layout> layouts;
    // Guarded by the connection's mutex:
    std::uint32_t state = CG_STATE_CLOSED;
};

// A message made by cg_pub_msgnew: the record the caller sees first, then its data.
struct OwnedMessage {
    cg_msg_data_t msg{};
    Publisher* pub = nullptr;
    int index = -1;
    std::vector<std::uint64_t> buffer; // 8-aligned data area
};

// ---- connections (Connection.cpp) ----

class Connection {
public:
    static std::uint32_t Create(const char* settings, Connection** out);
    ~Connection();

    std::uint32_t Open();
    std::uint32_t Close();
    std::uint32_t State(std::uint32_t& state);
    std::uint32_t Process(std::uint32_t timeoutMs);

    std::uint32_t OpenListener(Listener* l, const char* settings);
    std::uint32_t CloseListener(Listener* l);
    std::uint32_t ListenerState(Listener* l, std::uint32_t& state);
    void Attach(Listener* l);
    void Detach(Listener* l);

    std::uint32_t OpenPublisher(Publisher* p);
    std::uint32_t ClosePublisher(Publisher* p);
    std::uint32_t PublisherState(Publisher* p, std::uint32_t& state);
    void Attach(Publisher* p);
    void Detach(Publisher* p);
    std::uint32_t Post(Publisher* p, OwnedMessage* m, std::uint32_t flags);

    std::vector<Listener*> Listeners();
    std::vector<Publisher*> Publishers();

private:
    struct Pending {
        Publisher* pub = nullptr;
        std::string pubName;
        std::uint32_t userId = 0;
        std::uint32_t msgId = 0;
        const char* msgName = nullptr;
        Clock::time_point deadline;
    };
    struct Local {
        Listener* lsn = nullptr;
        std::uint32_t type = 0;
    };

    void CheckConnectLocked();
    bool SendFrame(const std::string& frame);
    void Lost();
    void CloseAllLocked(std::vector<Listener*>& closed);
    void Deliver(Listener* l, cg_msg_t* msg);
    void Dispatch(int kind, const char* body, std::size_t n);
    bool Timeouts();
    Listener* BySub(std::uint32_t sub, CG_LISTENER_CB& cb, void*& data);

    std::string host_;
    std::uint16_t port_ = 0;
    std::string app_;
    std::string name_;
    std::uint32_t timeoutMs_ = 2000;

    std::mutex mu_;
    std::uint32_t state_ = CG_STATE_CLOSED;
    bool connectFailed_ = false;
    Clock::time_point openedAt_{};
    std::vector<Listener*> listeners_;
    std::vector<Publisher*> publishers_;
    std::map<std::uint64_t, Pending> pending_;
    std::deque<Local> local_;
    std::uint64_t nextPost_ = 1;
    std::uint32_t nextSub_ = 1;

    std::mutex sendMu_;
    net::Socket sock_ = net::kInvalid; // written under sendMu_ by the owning thread only

    std::string rbuf_; // owning thread only
    std::size_t rlen_ = 0;
    std::vector<std::uint64_t> row_; // 8-aligned scratch for one delivered record
};

} // namespace vsim::gate
