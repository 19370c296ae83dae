#include "SimHarness.h"

#include "settings/SavedSettings.h"
#include "settings/StreamTree.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vorlen::e2e {

namespace {

// A loopback port kept bound (not listening) for the installation's lifetime. Closing a probe
// socket and handing its number on would let a parallel test's bind or outgoing connection take
// the port before the router binds it; a bound socket keeps the kernel from giving it out, while
// SO_REUSEADDR on both sides still lets the router bind and listen on it (and rebind it after a
// restart).
int ReservePort(int& held) {
    held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (held < 0) {
        return 0;
    }
    const int one = 1;
    setsockopt(held, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(held, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(held, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string JournalText(const std::string& line) {
    static const std::regex form(R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} --> (.*)$)");
    std::smatch m;
    return std::regex_match(line, m, form) ? m[1].str() : std::string();
}

std::vector<std::string> JournalTexts(const std::string& output) {
    std::vector<std::string> texts;
    for (const std::string& line : SplitLines(output)) {
        texts.push_back(JournalText(line));
    }
    return texts;
}

std::vector<std::string> JournalTextsFrom(const std::string& output, const std::string& prefix) {
    std::vector<std::string> out;
    for (std::string& t : JournalTexts(output)) {
        if (t.rfind(prefix, 0) == 0) {
            out.push_back(std::move(t));
        }
    }
    return out;
}

std::vector<std::vector<std::string>> TsvRows(const fs::path& file) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : SplitLines(ReadFile(file))) {
        std::vector<std::string>& cells = rows.emplace_back();
        std::size_t from = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', from);
            cells.push_back(line.substr(from, tab - from));
            if (tab == std::string::npos) {
                break;
            }
            from = tab + 1;
        }
    }
    return rows;
}

std::optional<int> ThreadsLeft(const std::string& err) {
    static const std::regex form(R"(shut down in \d+ ms, threads left: (\d+))");
    std::smatch m;
    if (!std::regex_search(err, m, form)) {
        return std::nullopt;
    }
    return std::stoi(m[1].str());
}

TSimInstall::TSimInstall(int rate) {
    for (;;) {
        std::string pattern = (fs::temp_directory_path() / "vorlen-e2e-XXXXXX").string();
        Root = fs::canonical(mkdtemp(pattern.data()));
        if (Root.string().find("bin") == std::string::npos) {
            break;
        }
        fs::remove_all(Root);
    }
    const fs::path sim = VORLEN_SIM_DIR;
    for (const char* part : {"bin", "scheme"}) {
        fs::copy(sim / part, Root / part, fs::copy_options::recursive);
    }
    for (const char* leftover : {"router.log", "router.ports", "cgate.log"}) {
        std::error_code ec;
        fs::remove(Root / "bin" / leftover, ec);
    }
    Port = ReservePort(FHeldPorts[0]);
    ControlPort = ReservePort(FHeldPorts[1]);

    WriteFile(Root / "client_router.ini", "[router]\nhost=127.0.0.1\nport=" + std::to_string(Port) +
                                              "\ncontrol_port=" + std::to_string(ControlPort) +
                                              "\nrate=" + std::to_string(rate) +
                                              "\nseed=20261218\nlog=router.log\n"
                                              "ports_file=router.ports\n");
    RegFile = Root / "machine.reg";
    WriteFile(RegFile, "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate]\r\n"
                       "\"InstallDir\"=\"" +
                           Root.string() + "/\"\r\n");
    TSavedSettings settings = DefaultSavedSettings();
    settings.Values.PortEdit = std::to_string(Port);
    SettingsFile = Root / "e2e.sav";
    WriteFile(SettingsFile, FormatSavedSettings(settings));
    DataDir = Root / "data";
    fs::create_directories(DataDir);
}

long TSimInstall::Counter(const std::string& name) const {
    const std::string reply = Control("counters");
    const std::string key = " " + name + "=";
    const std::size_t at = reply.find(key);
    return at == std::string::npos ? -1 : std::stol(reply.substr(at + key.size()));
}

fs::path WriteSettingsWithDeals(const TSimInstall& inst) {
    TSavedSettings settings = DefaultSavedSettings();
    settings.Values.PortEdit = std::to_string(inst.Port);
    TStreamTree tree;
    for (int k = 0; k < tree.NodeCount() && k < static_cast<int>(settings.Nodes.size()); ++k) {
        tree.SetIndices(k, settings.Nodes[static_cast<std::size_t>(k)]);
    }
    const int node = tree.FindStream("FORTS_DEALS_REPL");
    if (node >= 0) {
        tree.SetIndices(node, {kImageTicked, kImageTicked, kImageTicked});
        for (const int table : tree.Children(node)) {
            tree.SetIndices(table, {kImageTicked, kImageTicked, kImageTicked});
        }
    }
    settings.Nodes = tree.AllIndices();
    fs::path file = inst.Root / "deals.sav";
    std::ofstream(file, std::ios::binary) << FormatSavedSettings(settings);
    return file;
}

void TSimInstall::SetRouterOption(const std::string& key, const std::string& value) const {
    // Appended: meant for keys the constructor does not write, so no key appears twice.
    std::ofstream(Root / "client_router.ini", std::ios::app) << key << "=" << value << "\n";
}

TSimInstall::~TSimInstall() {
    for (const int held : FHeldPorts) {
        if (held >= 0) {
            close(held);
        }
    }
    // A router whose terminal crashed is nobody's child any more; whatever still runs from this
    // installation goes with it.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pidText = entry.path().filename().string();
        if (pidText.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string cmdline = ReadFile(entry.path() / "cmdline");
        if (cmdline.find(Root.string() + "/") != std::string::npos) {
            kill(static_cast<pid_t>(std::stol(pidText)), SIGKILL);
        }
    }
    if (std::getenv("VORLEN_E2E_KEEP") != nullptr) { // NOLINT(concurrency-mt-unsafe): read only
        return;
    }
    fs::remove_all(Root, ec);
}

std::string TSimInstall::Control(const std::string& command) const {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) {
        return {};
    }
    timeval tv{};
    tv.tv_sec = 10;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(ControlPort));
    std::string reply;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string line = command + "\n";
        if (send(s, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
            char c = 0;
            while (recv(s, &c, 1, 0) == 1 && c != '\n') {
                reply.push_back(c);
            }
        }
    }
    close(s);
    if (!reply.empty() && reply.back() == '\r') {
        reply.pop_back();
    }
    return reply;
}

TChild::~TChild() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        int status = 0;
        waitpid(FPid, &status, 0);
    }
}

bool TChild::Start(const std::vector<std::string>& argv, const fs::path& dir,
                   const std::vector<std::string>& extraEnv, const fs::path& out,
                   const fs::path& err) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string kv = *e;
        env[kv.substr(0, kv.find('='))] = kv;
    }
    for (const std::string& kv : extraEnv) {
        env[kv.substr(0, kv.find('='))] = kv;
    }
    std::vector<std::string> envStrings;
    envStrings.reserve(env.size());
    for (auto& [name, kv] : env) {
        envStrings.push_back(kv);
    }
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (std::string& kv : envStrings) {
        envp.push_back(kv.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    argp.reserve(args.size() + 1);
    for (std::string& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const std::string outName = out.empty() ? "/dev/null" : out.string();
    const std::string errName = err.empty() ? "/dev/null" : err.string();
    posix_spawn_file_actions_addopen(&actions, 1, outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    const int rc = posix_spawn(&FPid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        FPid = -1;
    }
    return rc == 0;
}

void TChild::Signal(int sig) const {
    if (FPid > 0) {
        kill(FPid, sig);
    }
}

std::optional<int> TChild::Wait(std::chrono::milliseconds limit) {
    if (FPid <= 0) {
        return std::nullopt;
    }
    std::optional<int> code;
    WaitUntil(
        [&] {
            int status = 0;
            const pid_t r = waitpid(FPid, &status, WNOHANG);
            if (r == FPid) {
                code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                FPid = -1;
                return true;
            }
            return false;
        },
        limit);
    return code;
}

fs::path WriteWholeMarketSettings(const TSimInstall& inst) {
    TSavedSettings settings = DefaultSavedSettings();
    settings.Values.PortEdit = std::to_string(inst.Port);
    TStreamTree tree;
    for (int k = 0; k < tree.NodeCount() && k < static_cast<int>(settings.Nodes.size()); ++k)
        tree.SetIndices(k, settings.Nodes[static_cast<std::size_t>(k)]);
    for (const char* stream : kExtraStreams) {
        const int node = tree.FindStream(stream);
        if (node < 0)
            return {};
        tree.SetIndices(node, {kImageTicked, kImageTicked, kImageTicked});
        for (const int table : tree.Children(node))
            tree.SetIndices(table, {kImageTicked, kImageTicked, kImageTicked});
    }
    settings.Nodes = tree.AllIndices();
    fs::path file = inst.Root / "market.sav";
    std::ofstream(file, std::ios::binary) << FormatSavedSettings(settings);
    return file;
}

TConsoleRun::TConsoleRun(const TSimInstall& inst, const std::vector<std::string>& args,
                         const std::vector<std::string>& extraEnv) {
    FOut = inst.Root / "console.out";
    FErr = inst.Root / "console.err";
    std::vector<std::string> argv{VORLEN_CONSOLE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env{"VORLEN_REGISTRY=" + inst.RegFile.string(),
                                 "VORLEN_DATA_DIR=" + inst.DataDir.string()};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    FStarted = FChild.Start(argv, inst.Root, env, FOut, FErr);
}

TConsoleRun::~TConsoleRun() {
    if (FChild.Pid() <= 0) {
        return;
    }
    const pid_t console = FChild.Pid();
    FChild.Signal(SIGTERM);
    if (!FChild.Wait(20s)) {
        for (const pid_t router : ChildrenNamed(console, "P2MQRouter64.exe")) {
            kill(router, SIGKILL);
        }
    }
}

bool TConsoleRun::WaitForJournal(const std::string& text, int count,
                                 std::chrono::milliseconds limit) const {
    return WaitUntil([&] { return CountJournal(text) >= count; }, limit);
}

int TConsoleRun::CountJournal(const std::string& text) const {
    int n = 0;
    for (const std::string& t : JournalTexts(Stdout())) {
        n += t == text ? 1 : 0;
    }
    return n;
}

std::vector<pid_t> ChildrenNamed(pid_t parent, const std::string& name) {
    std::vector<pid_t> found;
    const std::string comm = name.substr(0, 15); // the kernel keeps 15 characters
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pidText = entry.path().filename().string();
        if (pidText.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string stat = ReadFile(entry.path() / "stat");
        const std::size_t open = stat.find('(');
        const std::size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open) {
            continue;
        }
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && stat.substr(open + 1, close - open - 1).rfind(comm, 0) == 0) {
            found.push_back(static_cast<pid_t>(std::stol(pidText)));
        }
    }
    return found;
}

bool ProcessGone(pid_t pid) {
    if (kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    // A zombie has ended too; only its parent has not looked yet.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

} // namespace vorlen::e2e
