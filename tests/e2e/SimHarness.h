#pragma once

// The offline exchange laid out as a gateway installation of its own, in a temporary folder, on
// ports of its own; and the console terminal run against it as a separate process.

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vorlen::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits for `done` with a generous limit; true when it came true.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s);

std::string ReadFile(const fs::path& path);
std::vector<std::string> SplitLines(const std::string& text);
// The text of a journal line ("dd.mm.yyyy hh:mm:ss.zzz --> text"); empty when the line does not
// have that form.
std::string JournalText(const std::string& line);
// The journal texts of a whole output, in order.
std::vector<std::string> JournalTexts(const std::string& output);
// Those of the journal's texts that begin with `prefix`.
std::vector<std::string> JournalTextsFrom(const std::string& output, const std::string& prefix);
// A tab-separated file as rows of cells (no unescaping); no rows for a missing file.
std::vector<std::vector<std::string>> TsvRows(const fs::path& file);
// "threads left: N" of the console's closing report on standard error; nothing without one.
std::optional<int> ThreadsLeft(const std::string& err);

class TSimInstall {
public:
    // `rate`: the router's background events per second (0: a market that only moves when told).
    explicit TSimInstall(int rate = 200);
    ~TSimInstall();
    TSimInstall(const TSimInstall&) = delete;
    TSimInstall& operator=(const TSimInstall&) = delete;

    fs::path Root;         // the installation folder (its path never contains "bin")
    fs::path RegFile;      // the registry export naming Root
    fs::path SettingsFile; // a saved-settings file with the dialog's defaults and Port
    // The terminal's data folder (limits file, order logs) for every run on this installation:
    // the day's order log carries state from run to run, so no two tests may share one.
    fs::path DataDir;
    int Port = 0;
    int ControlPort = 0;

    fs::path Router() const { return Root / "bin" / "P2MQRouter64.exe"; }
    // One command on the router's control channel; the reply line, or empty.
    std::string Control(const std::string& command) const;
    // The counter `name` of the router's "counters" reply; -1 when the router does not answer.
    long Counter(const std::string& name) const;
    // Sets a key of the router's ini file, for the router started next.
    void SetRouterOption(const std::string& key, const std::string& value) const;

private:
    std::array<int, 2> FHeldPorts{-1, -1}; // Port and ControlPort, reserved until destruction
};

// Beside the FUTURES preset's twelve streams: the market's deals, its orders log and its books.
inline constexpr std::array<const char*, 3> kExtraStreams = {
    "FORTS_DEALS_REPL", "FORTS_ORDLOG_REPL", "FORTS_COMMON_REPL"};

// The installation's settings with the extra streams and all their tables ticked, written to
// market.sav in its folder; empty when the stream tree lacks one of them.
fs::path WriteWholeMarketSettings(const TSimInstall& inst);

// The installation's settings with the market's deals ticked besides the default streams (the
// fill models that go by deals need them in a recording), written into its folder.
fs::path WriteSettingsWithDeals(const TSimInstall& inst);

// A process of our own (the router restarted by a test); ended and reaped on destruction.
class TChild {
public:
    TChild() = default;
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    // Output goes to the files given (empty: /dev/null).
    bool Start(const std::vector<std::string>& argv, const fs::path& dir,
               const std::vector<std::string>& extraEnv, const fs::path& out = {},
               const fs::path& err = {});
    pid_t Pid() const { return FPid; }
    void Signal(int sig) const;
    // The exit code (128 + signal for a killed one), or nothing when it runs on past `limit`.
    std::optional<int> Wait(std::chrono::milliseconds limit);

private:
    pid_t FPid = -1;
};

// vorlen-console against an installation, its output in files of the installation folder and
// its data folder the installation's (VORLEN_DATA_DIR, which `extraEnv` may override).
class TConsoleRun {
public:
    TConsoleRun(const TSimInstall& inst, const std::vector<std::string>& args,
                const std::vector<std::string>& extraEnv = {});
    // A run still going (a test that failed half-way) is asked to stop; its router is killed
    // when it does not, so no test leaves a router behind.
    ~TConsoleRun();
    TConsoleRun(const TConsoleRun&) = delete;
    TConsoleRun& operator=(const TConsoleRun&) = delete;
    bool Started() const { return FStarted; }
    pid_t Pid() const { return FChild.Pid(); }
    std::string Stdout() const { return ReadFile(FOut); }
    std::string Stderr() const { return ReadFile(FErr); }
    std::optional<int> Wait(std::chrono::milliseconds limit) { return FChild.Wait(limit); }
    void Signal(int sig) const { FChild.Signal(sig); }
    // Waits until the journal holds `count` lines with exactly this text.
    bool WaitForJournal(const std::string& text, int count = 1,
                        std::chrono::milliseconds limit = 60s) const;
    int CountJournal(const std::string& text) const;

private:
    TChild FChild;
    fs::path FOut, FErr;
    bool FStarted = false;
};

// The children of a process whose command name begins with `name`.
std::vector<pid_t> ChildrenNamed(pid_t parent, const std::string& name);
bool ProcessGone(pid_t pid);

} // namespace vorlen::e2e
