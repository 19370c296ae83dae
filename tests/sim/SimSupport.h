#pragma once

// Test support for the offline exchange: a router started on free ports for one test, its
// control channel, and a gateway session that runs the terminal's connection loop and records
// every listener message.

#include "../../sim/gate/Exports.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace simtest {

// The installation folder laid out by the build.
std::string InstallDir();

class Router {
public:
    // Starts P2MQRouter64.exe on free ports (or the given ones) with a fresh ini file.
    explicit Router(const std::string& extraIni = "", int port = 0, int controlPort = 0);
    ~Router(); // kills the router if it still runs
    Router(const Router&) = delete;
    Router& operator=(const Router&) = delete;

    bool Running() const { return pid_ != 0; }
    int Port() const { return port_; }
    int ControlPort() const { return control_; }
    long long Pid() const { return pid_; }
    std::string Folder() const { return dir_; }
    // One control command, its one-line reply ("" when the router cannot be reached).
    std::string Control(const std::string& command);
    // Ends the router: killed at once (on Windows asked to quit first, terminated after 5 s).
    void Kill();
    // SIGTERM (on Windows: the "quit" command); true when the router left with status 0.
    bool Stop();

private:
    std::string dir_;
    long long pid_ = 0;
    void* handle_ = nullptr;
    int port_ = 0;
    int control_ = 0;
};

struct Event {
    std::uint32_t type = 0;
    std::size_t index = 0; // message index in the listener's scheme
    std::string name;      // message name
    std::string data;      // record bytes
    std::int64_t rev = 0;
    std::uint32_t a = 0, b = 0; // life number and flags; clear-deleted table index
    std::int64_t rev2 = 0;      // clear-deleted revision
    std::uint32_t userId = 0;
    std::string text; // replication state
    // Order of arrival over every listener of the program: rows of different streams that the
    // router wrote one after another arrive in that order.
    std::uint64_t arrival = 0;
};

struct Lsn {
    cg_listener_t* handle = nullptr;
    cg_scheme_desc_t* scheme = nullptr;
    std::uint32_t life = 0;
    bool online = false;
    int opened = 0;
    int closed = 0;
    std::vector<Event> events;

    std::size_t Count(std::uint32_t type) const;
    // Rows of a table received so far (deleted ones included).
    std::vector<const Event*> Rows(const std::string& table) const;
};

// Field readers over a record, by the field descriptions of the listener's scheme.
// Int reads signed and unsigned integers alike.
cg_field_desc_t* Field(cg_scheme_desc_t* scheme, const std::string& message,
                       const std::string& field);
std::int64_t Int(cg_scheme_desc_t* scheme, const Event& e, const std::string& field);
std::string Text(cg_scheme_desc_t* scheme, const Event& e, const std::string& field);
double Decimal(cg_scheme_desc_t* scheme, const Event& e, const std::string& field);

class Session {
public:
    Session(int port, const std::string& name);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    cg_conn_t* Conn() const { return conn_; }
    Lsn& Listen(const std::string& settings);
    // A publisher with its reply listener.
    Lsn& Publish(const std::string& settings, const std::string& replySettings);
    cg_publisher_t* Pub() const { return pub_; }

    // Runs passes of the terminal's loop until done() or the wait runs out.
    bool Pump(const std::function<bool()>& done, int ms = 15000);
    // Waits for done() without touching any connection.
    static bool PumpRaw(const std::function<bool()>& done, int ms = 15000);
    std::uint32_t State();

    // Posts one AddOrder with the given fields (text or integer by the scheme's type) and waits
    // for its reply or timeout, which is returned (type 0 when neither came).
    Event Order(std::uint32_t userId, const std::vector<std::pair<std::string, std::string>>& f,
                const char* message = "AddOrder", int ms = 15000);

private:
    void Pass();

    cg_conn_t* conn_ = nullptr;
    cg_publisher_t* pub_ = nullptr;
    std::vector<std::unique_ptr<Lsn>> lsns_;
    Lsn* replies_ = nullptr;
};

// Opens the gateway environment once for the test program, with bin/ as current folder.
void OpenEnvironment();

} // namespace simtest
