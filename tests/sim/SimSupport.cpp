#include "SimSupport.h"

#include "../../sim/common/Net.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool ReadPorts(const std::string& path, int& port, int& control) {
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until) {
        std::ifstream in(path);
        std::string a, b;
        if (in >> a >> b && a.rfind("port=", 0) == 0 && b.rfind("control_port=", 0) == 0) {
            port = std::stoi(a.substr(5));
            control = std::stoi(b.substr(13));
            return true;
        }
        Sleep(20);
    }
    return false;
}

} // namespace

std::string InstallDir() {
    return VORLEN_SIM_INSTALL_DIR;
}

Router::Router(const std::string& extraIni, int port, int controlPort) {
    static std::mt19937_64 rng(std::random_device{}());
    dir_ = (fs::temp_directory_path() / ("vorlen-simtest-" + std::to_string(rng()))).string();
    fs::create_directories(dir_);
    const std::string ini = (fs::path(dir_) / "client_router.ini").string();
    std::ofstream(ini) << "[router]\nport=" << port << "\ncontrol_port=" << controlPort
                       << "\nrate=0\nseed=11\n"
                       << extraIni;
    const std::string exe = InstallDir() + "/bin/P2MQRouter64.exe";
#ifdef _WIN32
    std::string cmd = "\"" + exe + "\" /ini:\"" + ini + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        handle_ = pi.hProcess;
        pid_ = pi.dwProcessId;
    }
#else
    const std::string arg = "/ini:" + ini;
    const pid_t pid = fork();
    if (pid == 0) {
        // A test killed on its timeout must not leave its router behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execl(exe.c_str(), "P2MQRouter64.exe", arg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    pid_ = pid > 0 ? pid : 0;
#endif
    if (pid_ == 0 || !ReadPorts((fs::path(dir_) / "router.ports").string(), port_, control_)) {
        Kill();
    }
}

Router::~Router() {
    Kill();
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void Router::Kill() {
    if (pid_ == 0) {
        return;
    }
#ifdef _WIN32
    // Asked first: wine (8.0) can keep the sockets of a terminated process alive, and its server
    // then spins on them for the rest of the prefix's life.
    if (control_ == 0 || Control("quit").empty() ||
        WaitForSingleObject(static_cast<HANDLE>(handle_), 5000) != WAIT_OBJECT_0) {
        TerminateProcess(static_cast<HANDLE>(handle_), 1);
    }
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle_));
#else
    kill(static_cast<pid_t>(pid_), SIGKILL);
    waitpid(static_cast<pid_t>(pid_), nullptr, 0);
#endif
    pid_ = 0;
}

bool Router::Stop() {
    if (pid_ == 0) {
        return false;
    }
#ifdef _WIN32
    Control("quit");
    DWORD code = 1;
    WaitForSingleObject(static_cast<HANDLE>(handle_), 10000);
    GetExitCodeProcess(static_cast<HANDLE>(handle_), &code);
    CloseHandle(static_cast<HANDLE>(handle_));
    pid_ = 0;
    return code == 0;
#else
    int status = 0;
    kill(static_cast<pid_t>(pid_), SIGTERM);
    waitpid(static_cast<pid_t>(pid_), &status, 0);
    pid_ = 0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

std::string Router::Control(const std::string& command) {
    using namespace vsim;
    net::Init();
    net::Socket s = net::ConnectStart("127.0.0.1", static_cast<std::uint16_t>(control_));
    if (s == net::kInvalid || !net::WaitWritable(s, 5000) || net::ConnectCheck(s) != 1) {
        net::Close(s);
        return {};
    }
    const std::string line = command + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        const long n = net::Send(s, line.data() + sent, line.size() - sent);
        if (n < 0) {
            break;
        }
        if (n == 0) {
            net::WaitWritable(s, 1000);
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (reply.find('\n') == std::string::npos && Clock::now() < until) {
        char buf[4096];
        if (!net::WaitReadable(s, 100)) {
            continue;
        }
        const long n = net::Recv(s, buf, sizeof buf);
        if (n < 0) {
            break;
        }
        reply.append(buf, static_cast<std::size_t>(n));
    }
    net::Close(s);
    return reply.substr(0, reply.find('\n'));
}

std::size_t Lsn::Count(std::uint32_t type) const {
    std::size_t n = 0;
    for (const Event& e : events) {
        n += e.type == type ? 1 : 0;
    }
    return n;
}

std::vector<const Event*> Lsn::Rows(const std::string& table) const {
    std::vector<const Event*> out;
    for (const Event& e : events) {
        if (e.type == CG_MSG_STREAM_CHANGED && e.name == table) {
            out.push_back(&e);
        }
    }
    return out;
}

cg_field_desc_t* Field(cg_scheme_desc_t* scheme, const std::string& message,
                       const std::string& field) {
    for (cg_message_desc_t* m = scheme ? scheme->messages : nullptr; m; m = m->next) {
        if (message == m->name) {
            for (cg_field_desc_t* f = m->fields; f; f = f->next) {
                if (field == f->name) {
                    return f;
                }
            }
        }
    }
    return nullptr;
}

std::int64_t Int(cg_scheme_desc_t* scheme, const Event& e, const std::string& field) {
    cg_field_desc_t* f = Field(scheme, e.name, field);
    const char kind = f != nullptr ? f->fild_type[0] : '\0';
    if ((kind != 'i' && kind != 'u') || f->offset + f->size > e.data.size()) {
        return -919191;
    }
    const char* p = e.data.data() + f->offset;
    const bool u = kind == 'u';
    switch (f->size) {
    case 1:
        return u ? static_cast<std::uint8_t>(*p) : static_cast<std::int8_t>(*p);
    case 2: {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return u ? static_cast<std::uint16_t>(v) : v;
    }
    case 4: {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return u ? static_cast<std::uint32_t>(v) : v;
    }
    default: {
        std::int64_t v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

std::string Text(cg_scheme_desc_t* scheme, const Event& e, const std::string& field) {
    cg_field_desc_t* f = Field(scheme, e.name, field);
    if (f == nullptr || f->offset + f->size > e.data.size()) {
        return "<missing>";
    }
    return std::string(e.data.data() + f->offset, strnlen(e.data.data() + f->offset, f->size));
}

double Decimal(cg_scheme_desc_t* scheme, const Event& e, const std::string& field) {
    cg_field_desc_t* f = Field(scheme, e.name, field);
    std::int64_t m = 0;
    std::int8_t s = 0;
    if (f == nullptr || cg_bcd_get(e.data.data() + f->offset, &m, &s) != 0) {
        return -1e300;
    }
    double v = static_cast<double>(m);
    for (int i = 0; i < s; ++i) {
        v /= 10;
    }
    return v;
}

namespace {

std::uint32_t CG_CALL Record(cg_conn_t*, cg_listener_t* handle, cg_msg_t* msg, void* data) {
    auto* l = static_cast<Lsn*>(data);
    Event e;
    e.type = msg->type;
    switch (msg->type) {
    case CG_MSG_OPEN:
        ++l->opened;
        if (cg_lsn_getscheme(handle, &l->scheme) != 0) {
            l->scheme = nullptr;
        }
        break;
    case CG_MSG_CLOSE:
        ++l->closed;
        l->online = false;
        break;
    case CG_MSG_P2REPL_ONLINE:
        l->online = true;
        break;
    case CG_MSG_P2REPL_LIFENUM: {
        const auto* ln = static_cast<const cg_data_lifenum_t*>(msg->data);
        e.a = ln->life_number;
        e.b = ln->flags;
        l->life = ln->life_number;
        break;
    }
    case CG_MSG_P2REPL_CLEARDELETED: {
        cg_data_cleardeleted_t cd;
        std::memcpy(&cd, msg->data, sizeof cd);
        e.a = cd.table_idx;
        e.rev2 = cd.table_rev;
        break;
    }
    case CG_MSG_P2REPL_REPLSTATE:
        e.text = static_cast<const char*>(msg->data);
        break;
    case CG_MSG_STREAM_CHANGED: {
        auto* row = reinterpret_cast<cg_msg_streamdata_t*>(msg);
        e.index = row->msg_index;
        e.name = row->msg_name;
        e.rev = row->rev;
        e.data.assign(static_cast<const char*>(row->data), row->data_size);
        break;
    }
    case CG_MSG_DATA:
    case CG_MSG_P2MQ_TIMEOUT: {
        auto* d = reinterpret_cast<cg_msg_data_t*>(msg);
        e.index = d->msg_index;
        e.name = d->msg_name != nullptr ? d->msg_name : "";
        e.userId = d->user_id;
        if (d->data != nullptr) {
            e.data.assign(static_cast<const char*>(d->data), d->data_size);
        }
        break;
    }
    default:
        break;
    }
    static std::atomic<std::uint64_t> arrivals{0};
    e.arrival = ++arrivals;
    l->events.push_back(std::move(e));
    return 0;
}

} // namespace

Session::Session(int port, const std::string& name) {
    const std::string s = "p2tcp://127.0.0.1:" + std::to_string(port) +
                          ";app_name=simtest;timeout=2000;local_timeout=500;name=" + name;
    cg_conn_new(s.c_str(), &conn_);
}

Session::~Session() {
    if (conn_ != nullptr) {
        cg_conn_destroy(conn_);
    }
}

Lsn& Session::Listen(const std::string& settings) {
    auto l = std::make_unique<Lsn>();
    cg_lsn_new(conn_, settings.c_str(), Record, l.get(), &l->handle);
    lsns_.push_back(std::move(l));
    return *lsns_.back();
}

Lsn& Session::Publish(const std::string& settings, const std::string& replySettings) {
    cg_pub_new(conn_, settings.c_str(), &pub_);
    replies_ = &Listen(replySettings);
    return *replies_;
}

std::uint32_t Session::State() {
    std::uint32_t st = 99;
    cg_conn_getstate(conn_, &st);
    return st;
}

void Session::Pass() {
    const std::uint32_t st = State();
    if (st == CG_STATE_CLOSED) {
        cg_conn_open(conn_, nullptr);
        return;
    }
    if (st == CG_STATE_ERROR) {
        cg_conn_close(conn_);
        return;
    }
    if (st != CG_STATE_ACTIVE) {
        Sleep(1);
        return;
    }
    cg_conn_process(conn_, 1, nullptr);
    for (auto& l : lsns_) {
        std::uint32_t ls = 99;
        if (l->handle == nullptr || cg_lsn_getstate(l->handle, &ls) != 0) {
            continue;
        }
        if (ls == CG_STATE_CLOSED) {
            const std::string open = "lifinum=" + std::to_string(l->life);
            cg_lsn_open(l->handle, open.c_str());
        } else if (ls == CG_STATE_ERROR) {
            cg_lsn_close(l->handle);
        }
    }
    std::uint32_t ps = 99;
    if (pub_ != nullptr && cg_pub_getstate(pub_, &ps) == 0) {
        if (ps == CG_STATE_CLOSED) {
            cg_pub_open(pub_, nullptr);
        } else if (ps == CG_STATE_ERROR) {
            cg_pub_close(pub_);
        }
    }
}

bool Session::Pump(const std::function<bool()>& done, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        Pass();
    }
    return true;
}

bool Session::PumpRaw(const std::function<bool()>& done, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() > until) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

Event Session::Order(std::uint32_t userId,
                     const std::vector<std::pair<std::string, std::string>>& fields,
                     const char* message, int ms) {
    Pump([&] {
        std::uint32_t ps = 0;
        return cg_pub_getstate(pub_, &ps) == 0 && ps == CG_STATE_ACTIVE && replies_->opened > 0;
    });
    cg_msg_t* msg = nullptr;
    cg_scheme_desc_t* scheme = nullptr;
    if (cg_pub_msgnew(pub_, CG_KEY_NAME, message, &msg) != 0 ||
        cg_pub_getscheme(pub_, &scheme) != 0) {
        return {};
    }
    reinterpret_cast<cg_msg_data_t*>(msg)->user_id = userId;
    for (const auto& [name, value] : fields) {
        cg_field_desc_t* f = Field(scheme, message, name);
        if (f == nullptr) {
            continue;
        }
        char* p = static_cast<char*>(msg->data) + f->offset;
        if (f->fild_type[0] == 'c') {
            std::strncpy(p, value.c_str(), f->size - 1);
        } else {
            const long long v = std::stoll(value);
            std::memcpy(p, &v, f->size); // little-endian: the low bytes come first
        }
    }
    const std::size_t before = replies_->events.size();
    const bool posted = cg_pub_post(pub_, msg, CG_PUB_NEEDREPLY) == 0;
    cg_pub_msgfree(pub_, msg);
    if (!posted) {
        return {};
    }
    Event result;
    Pump(
        [&] {
            for (std::size_t i = before; i < replies_->events.size(); ++i) {
                const Event& e = replies_->events[i];
                if ((e.type == CG_MSG_DATA || e.type == CG_MSG_P2MQ_TIMEOUT) &&
                    e.userId == userId) {
                    result = e;
                    return true;
                }
            }
            return false;
        },
        ms);
    return result;
}

void OpenEnvironment() {
    static const bool opened = [] {
        fs::current_path(InstallDir() + "/bin");
        return cg_env_open("ini=p2cgate.ini;subsys=mq,replclient;log=p2:p2syslog;"
                           "minloglevel=info;key=11111111") == 0;
    }();
    (void)opened;
}

} // namespace simtest
