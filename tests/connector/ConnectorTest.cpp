#include "connector/Connector.h"

#include "connections/Connection.h"
#include "connections/TrConnection.h"
#include "gateway/Cgate.h"
#include "platform/ProcessStart.h"
#include "store/Storage.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#endif

namespace fs = std::filesystem;
using namespace vorlen;

// ---------------------------------------------------------------------------------------------
// The path rules, once with Windows paths and once with "/".

TEST(RouterPath, AppendsBinOnlyWhenItOccursNowhere) {
    EXPECT_EQ(RouterDirFromInstallDir(R"(C:\SPECTRA\)", '\\'), R"(C:\SPECTRA\bin\)");
    EXPECT_EQ(RouterDirFromInstallDir(R"(C:\Robin\CGate\)", '\\'), R"(C:\Robin\CGate\)");
    EXPECT_EQ(RouterDirFromInstallDir(R"(C:\X\bin\)", '\\'), R"(C:\X\bin\)");
    // Case-sensitive, and appended directly, without adding a separator.
    EXPECT_EQ(RouterDirFromInstallDir(R"(C:\BIN\)", '\\'), R"(C:\BIN\bin\)");
    EXPECT_EQ(RouterDirFromInstallDir(R"(C:\Gate)", '\\'), R"(C:\Gatebin\)");
    EXPECT_EQ(RouterDirFromInstallDir("", '\\'), "");

    EXPECT_EQ(RouterDirFromInstallDir("/opt/spectra/", '/'), "/opt/spectra/bin/");
    EXPECT_EQ(RouterDirFromInstallDir("/home/robin/cgate/", '/'), "/home/robin/cgate/");
    EXPECT_EQ(RouterDirFromInstallDir("", '/'), "");
}

TEST(RouterPath, BuildsTheIniArgumentFromTheFirstBinDirectory) {
    EXPECT_EQ(RouterCommandLine(R"(C:\X\bin\P2MQRouter64.exe)", "client_router.ini", '\\'),
              R"("C:\X\bin\P2MQRouter64.exe" /ini:"C:\X\client_router.ini")");
    // Only the first "bin\" goes.
    EXPECT_EQ(RouterIniArgument(R"(C:\bin\CGate\bin\P2MQRouter64.exe)", "client_router.ini", '\\'),
              R"("C:\CGate\bin\client_router.ini")");
    // Outside any "bin\": the bare directory, unquoted, without the ini file's name.
    EXPECT_EQ(RouterCommandLine(R"(C:\Gate\P2MQRouter64.exe)", "client_router.ini", '\\'),
              R"("C:\Gate\P2MQRouter64.exe" /ini:C:\Gate\)");
    // "bin" without its separator does not count; the separator is the one given.
    EXPECT_EQ(RouterIniArgument(R"(C:\cabin2\router.exe)", "r.ini", '\\'), R"(C:\cabin2\)");
    EXPECT_EQ(RouterIniArgument(R"(C:\X\bin\router.exe)", "r.ini", '/'), "");

    EXPECT_EQ(RouterCommandLine("/opt/gate/bin/router", "client_router.ini", '/'),
              R"("/opt/gate/bin/router" /ini:"/opt/gate/client_router.ini")");
    EXPECT_EQ(RouterIniArgument("/bin/gate/bin/router", "client_router.ini", '/'),
              R"("/gate/bin/client_router.ini")");
    EXPECT_EQ(RouterCommandLine("/opt/gate/router", "client_router.ini", '/'),
              R"("/opt/gate/router" /ini:/opt/gate/)");
}

// Whatever a path holds, the command line splits back into exactly the program and one /ini:
// argument naming the configuration, as the router will read them.
TEST(RouterPath, NoCharacterOfThePathsSplitsTheCommandLine) {
    struct Case {
        std::string File, Ini, IniPath;
        char Sep;
    };
    const std::vector<Case> cases = {
        {R"(C:\Program Files\Gate\bin\router.exe)", "client_router.ini",
         R"(C:\Program Files\Gate\client_router.ini)", '\\'},
        {R"(C:\Program Files\Gate\router.exe)", "r.ini", R"(C:\Program Files\Gate\)", '\\'},
        {R"(C:\a;b\bin\r.exe)", "x\" /c calc \"", R"(C:\a;b\x" /c calc ")", '\\'},
        {R"(C:\X\bin\r.exe)", R"(a\" b\\)", R"(C:\X\a\" b\\)", '\\'},
        {"/opt/$(id) gate/bin/router", "client_router.ini", "/opt/$(id) gate/client_router.ini",
         '/'},
        {"/opt/a\tb/router", "r.ini", "/opt/a\tb/", '/'},
        {"/opt/new\nline/bin/router", "c.ini", "/opt/new\nline/c.ini", '/'},
    };
    for (const Case& c : cases) {
        const std::string line = RouterCommandLine(c.File, c.Ini, c.Sep);
        EXPECT_EQ(platform::SplitCommandLine(line),
                  (std::vector<std::string>{c.File, "/ini:" + c.IniPath}))
            << line;
    }
    // A mark in the program's path cannot be carried at all.
    EXPECT_EQ(RouterCommandLine(R"(C:\X" /c "calc\bin\r.exe)", "r.ini", '\\'), "");
    EXPECT_EQ(RouterCommandLine("", "r.ini", '/'), "");
}

// ---------------------------------------------------------------------------------------------
// The connector with its operating-system services replaced.

namespace {

struct FakeSystem {
    std::vector<std::string> Calls;
    bool HasKey = true;
    std::string InstallDir;
    bool ServiceUp = false;
    bool StartOk = true;
    bool TerminateOk = true;
    TProcInfo Started{};
    std::string LastApplication;
    std::string LastCommandLine;
    std::string LastDir;

    TConnectorServices Services(char separator) {
        TConnectorServices s;
        s.PathSeparator = separator;
        s.ReadMachineString = [this](const std::string& key, const std::string& value,
                                     std::string& out) {
            Calls.push_back("registry " + key + " | " + value);
            out = HasKey ? InstallDir : "";
            return HasKey;
        };
        s.ServiceRunning = [this](const std::string& machine, const std::string& name) {
            Calls.push_back("service " + machine + " " + name);
            return ServiceUp;
        };
        s.StartProcess = [this](const std::string& app, const std::string& cmd,
                                const std::string& dir, TProcInfo& info) {
            Calls.push_back("start");
            LastApplication = app;
            LastCommandLine = cmd;
            LastDir = dir;
            if (StartOk) {
                info = Started;
            }
            return StartOk;
        };
        s.TerminateProcess = [this](std::uintptr_t process, std::uint32_t code) {
            Calls.push_back("terminate " + std::to_string(process) + " " + std::to_string(code));
            return TerminateOk;
        };
        s.CloseHandle = [this](std::uintptr_t handle) {
            Calls.push_back("close " + std::to_string(handle));
            return true;
        };
        s.CloseEnvironment = [this] { Calls.push_back("env close"); };
        s.FreeLibrary = [this](std::uintptr_t module) {
            Calls.push_back("free " + std::to_string(module));
        };
        return s;
    }
};

TConnectorHooks HooksFor(FakeSystem& sys, char separator = '\\') {
    TConnectorHooks hooks;
    hooks.Services = sys.Services(separator);
    return hooks;
}

std::uintptr_t ProcessOf(const TCGConnector& c) {
    return platform::ProcessHandleValue(c.Settings().ProcInfo);
}

TProcInfo ProcInfoWith(std::uintptr_t process, std::uintptr_t thread) {
    TProcInfo pi{};
#ifdef _WIN32
    pi.hProcess = reinterpret_cast<HANDLE>(process);
    pi.hThread = reinterpret_cast<HANDLE>(thread);
#else
    pi.hProcess = process;
    pi.hThread = thread;
#endif
    pi.dwProcessId = 7;
    pi.dwThreadId = 8;
    return pi;
}

} // namespace

TEST(Connector, CreatesItsPartsInOrderWithEverythingOff) {
    FakeSystem sys;
    TConnectorHooks hooks = HooksFor(sys);
    int created = 0;
    int freed = 0;
    bool orderSeen = false;
    hooks.GridUpdater.Create = [&](TCGConnector& c) -> TUpdateGrids* {
        ++created;
        // After the store and the market-data connection, before the transaction connection.
        orderSeen = c.Storage() && c.MarketData() && !c.Transactions();
        static int token;
        return reinterpret_cast<TUpdateGrids*>(&token);
    };
    hooks.GridUpdater.StopAndFree = [&](TUpdateGrids*) { ++freed; };
    {
        TCGConnector c(std::move(hooks));
        EXPECT_EQ(created, 1);
        EXPECT_TRUE(orderSeen);
        EXPECT_EQ(c.OrdersFilter(), 1);
        EXPECT_EQ(c.MLOrdersFilter(), 1);
        EXPECT_EQ(c.IsinId(), 0);
        EXPECT_FALSE(c.EnvOpen());
        EXPECT_FALSE(c.Settings().isSet);
        EXPECT_FALSE(c.Settings().RoutLoad);
        EXPECT_EQ(c.Settings().CGDllHandle, 0u);
        EXPECT_EQ(ProcessOf(c), 0u);
        ASSERT_TRUE(c.MarketData() && c.Transactions() && c.GridUpdater());
        EXPECT_FALSE(c.MarketData()->Started());
        EXPECT_FALSE(c.Transactions()->Started());
        c.StopGridUpdater();
        EXPECT_EQ(freed, 1);
        EXPECT_FALSE(c.GridUpdater());
    }
    EXPECT_EQ(freed, 1);
    // Nothing was opened, loaded or started, so nothing is closed, freed or terminated.
    EXPECT_TRUE(sys.Calls.empty());
}

TEST(Connector, FindsTheRouterFolderThroughTheRegistry) {
    FakeSystem sys;
    TCGConnector c(HooksFor(sys));
    sys.InstallDir = R"(C:\Robin\CGate\)";
    EXPECT_EQ(c.GetCGRouterPath("SOFTWARE\\Key", "InstallDir"), R"(C:\Robin\CGate\)");
    EXPECT_EQ(sys.Calls.back(), "registry SOFTWARE\\Key | InstallDir");
    sys.InstallDir = R"(C:\SPECTRA\)";
    EXPECT_EQ(c.GetCGRouterPath("K", "V"), R"(C:\SPECTRA\bin\)");
    sys.InstallDir = "";
    EXPECT_EQ(c.GetCGRouterPath("K", "V"), "");
    sys.HasKey = false;
    sys.InstallDir = R"(C:\SPECTRA\)";
    EXPECT_EQ(c.GetCGRouterPath("K", "V"), "");
}

TEST(Connector, ARunningServiceMeansNothingIsStartedOrTerminated) {
    FakeSystem sys;
    sys.ServiceUp = true;
    {
        TCGConnector c(HooksFor(sys));
        EXPECT_TRUE(c.LoadRouter(R"(C:\X\bin\P2MQRouter64.exe)", "RKey", "Rrec",
                                 "client_router.ini", "127.0.0.1", "SpectraCGate"));
        EXPECT_EQ(ProcessOf(c), 0u);
    }
    EXPECT_EQ(sys.Calls, std::vector<std::string>{"service 127.0.0.1 SpectraCGate"});
}

TEST(Connector, StartsTheRouterAndTerminatesItAtTheEnd) {
    FakeSystem sys;
    sys.Started = ProcInfoWith(100, 104);
    {
        TCGConnector c(HooksFor(sys));
        EXPECT_TRUE(c.LoadRouter(R"(C:\X\bin\P2MQRouter64.exe)", "RKey", "Rrec",
                                 "client_router.ini", "host", "Svc"));
        EXPECT_EQ(sys.LastCommandLine,
                  R"("C:\X\bin\P2MQRouter64.exe" /ini:"C:\X\client_router.ini")");
        EXPECT_EQ(sys.LastApplication, R"(C:\X\bin\P2MQRouter64.exe)");
        EXPECT_EQ(sys.LastDir, R"(C:\X\bin\)");
        EXPECT_EQ(ProcessOf(c), 100u);
        sys.Calls.clear();
    }
    EXPECT_EQ(sys.Calls, (std::vector<std::string>{"terminate 100 0", "close 104", "close 100"}));
}

TEST(Connector, ReleasesEnvironmentLibraryAndRouterInThatOrder) {
    FakeSystem sys;
    {
        TCGConnector c(HooksFor(sys));
        c.SetEnvOpen(true);
        c.Settings().CGDllHandle = 40;
        c.Settings().ProcInfo = ProcInfoWith(32, 36);
    }
    EXPECT_EQ(sys.Calls, (std::vector<std::string>{"env close", "free 40", "terminate 32 0",
                                                   "close 36", "close 32"}));

    // Handles below 32 are no handles; a failed termination closes nothing.
    sys.Calls.clear();
    sys.TerminateOk = false;
    {
        TCGConnector c(HooksFor(sys));
        c.Settings().CGDllHandle = 31;
        c.Settings().ProcInfo = ProcInfoWith(50, 54);
    }
    EXPECT_EQ(sys.Calls, std::vector<std::string>{"terminate 50 0"});
    sys.Calls.clear();
    {
        TCGConnector c(HooksFor(sys));
        c.Settings().ProcInfo = ProcInfoWith(31, 54);
    }
    EXPECT_TRUE(sys.Calls.empty());
}

TEST(Connector, ReportsARouterThatCannotBeStarted) {
    FakeSystem sys;
    sys.StartOk = false;
    TCGConnector c(HooksFor(sys, '/'));
    EXPECT_FALSE(c.LoadRouter("/opt/gate/router", "k", "r", "client_router.ini", "", "Svc"));
    EXPECT_EQ(sys.LastCommandLine, R"("/opt/gate/router" /ini:/opt/gate/)");
    EXPECT_EQ(sys.LastDir, "/opt/gate/");
    EXPECT_EQ(ProcessOf(c), 0u);
}

// Router names as a hostile settings file would give them: nothing is started for any of them.
// (A name that reaches into another folder, "../router" or "sub/router", is refused earlier,
// when the settings are applied; here only the file's own name can be judged.)
TEST(Connector, StartsNothingForARouterNameThatIsNotAPlainFileName) {
    const std::vector<std::string> names = {
        R"(../../../../bin/sh" -c "id > /tmp/x" ")",
        "router\" -c \"id\"",
        R"(router\" -c x)",
        "router\n-c id",
        "..",
        "C:router.exe",
    };
    for (const char sep : {'/', '\\'}) {
        for (const std::string& name : names) {
            FakeSystem sys;
            TCGConnector c(HooksFor(sys, sep));
            const std::string dir = sep == '/' ? "/opt/gate/bin/" : R"(C:\Gate\bin\)";
            EXPECT_FALSE(c.LoadRouter(dir + name, "", "", "client_router.ini", "", "Svc")) << name;
            EXPECT_EQ(sys.LastCommandLine, "") << name;
            EXPECT_EQ(ProcessOf(c), 0u);
        }
    }
    // "$(...)" or ";" is no path and no quoting: such a name is a file name like any other,
    // started as one program with no shell to read it.
    FakeSystem sys;
    TCGConnector c(HooksFor(sys, '/'));
    EXPECT_TRUE(c.LoadRouter("/opt/gate/bin/$(id)", "", "", "r.ini", "", "Svc"));
    EXPECT_EQ(sys.LastApplication, "/opt/gate/bin/$(id)");
    EXPECT_EQ(platform::SplitCommandLine(sys.LastCommandLine),
              (std::vector<std::string>{"/opt/gate/bin/$(id)", "/ini:/opt/gate/r.ini"}));
    EXPECT_TRUE(c.LoadRouter("/opt/gate/bin/router; id > x", "", "", "r.ini", "", "Svc"));
    EXPECT_EQ(platform::SplitCommandLine(sys.LastCommandLine),
              (std::vector<std::string>{"/opt/gate/bin/router; id > x", "/ini:/opt/gate/r.ini"}));
}

TEST(Connector, TheAccessorNeverOutlivesItsConnector) {
    FakeSystem sys;
    auto c = std::make_unique<TCGConnector>(HooksFor(sys));
    SetConnector(c.get());
    EXPECT_EQ(Connector(), c.get());
    c.reset();
    EXPECT_EQ(Connector(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Threads still running when the connector goes: they must be stopped before the gateway does.

namespace {

std::atomic<int> gStatePolls{0};
cg_conn_t* const kConn = reinterpret_cast<cg_conn_t*>(0x1000);

std::uint32_t CG_CALL FakeConnNew(const char*, cg_conn_t** conn) {
    *conn = kConn;
    return CG_ERR_OK;
}
std::uint32_t CG_CALL FakeGetState(cg_conn_t*, std::uint32_t* state) {
    ++gStatePolls;
    *state = CG_STATE_OPENING;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return CG_ERR_OK;
}
std::uint32_t CG_CALL FakeNoPublisher(cg_conn_t*, const char*, cg_publisher_t**) {
    return CG_ERR_INTERNAL;
}
std::uint32_t CG_CALL FakeNoListener(cg_conn_t*, const char*, CG_LISTENER_CB, void*,
                                     cg_listener_t**) {
    return CG_ERR_INTERNAL;
}

} // namespace

// Puts the process-wide entry table back however a test ends, a failed assertion included.
class EntryTableGuard {
public:
    EntryTableGuard() : FSaved(CG()) {}
    ~EntryTableGuard() { CG() = FSaved; }
    EntryTableGuard(const EntryTableGuard&) = delete;
    EntryTableGuard& operator=(const EntryTableGuard&) = delete;

private:
    TCGateEntryPoints FSaved;
};

TEST(Connector, StopsThreadsLeftRunningBeforeClosingTheGateway) {
    const EntryTableGuard restore;
    CG().cg_conn_new = FakeConnNew;
    CG().cg_conn_getstate = FakeGetState;
    CG().cg_pub_new = FakeNoPublisher;
    CG().cg_lsn_new = FakeNoListener;
    gStatePolls = 0;

    FakeSystem sys;
    TMemoryJournal journal;
    TConnectorHooks hooks = HooksFor(sys);
    hooks.Journal = &journal;
    TCGConnector* seen = nullptr;
    bool threadsGone = false;
    hooks.Services.CloseEnvironment = [&] {
        threadsGone = seen && !seen->MarketData() && !seen->Transactions();
    };
    {
        TCGConnector c(std::move(hooks));
        seen = &c;
        c.SetEnvOpen(true);
        c.Transactions()->Start();
        c.MarketData()->Start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (gStatePolls < 20 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(gStatePolls, 20);
    }
    EXPECT_TRUE(threadsGone);
}

#ifndef _WIN32
// ---------------------------------------------------------------------------------------------
// The real services on this system: a router found through a registry file, started, stopped.

namespace {

class Installation {
public:
    Installation() {
        // The folder's own name must not contain "bin", or no "bin/" would be appended.
        for (;;) {
            std::string pattern = (fs::temp_directory_path() / "vorlen-conn-XXXXXX").string();
            Root = fs::canonical(mkdtemp(pattern.data()));
            if (Root.string().find("bin") == std::string::npos) {
                break;
            }
            fs::remove_all(Root);
        }
        fs::create_directories(Root / "bin");
        Router = Root / "bin" / "P2MQRouter64.exe";
        std::ofstream(Router) << "#!/bin/sh\n"
                                 "{ pwd; printf '%s\\n' \"$@\"; } > started.tmp\n"
                                 "mv started.tmp started\n"
                                 "exec sleep 60\n";
        fs::permissions(Router, fs::perms::owner_all);
        RegFile = Root / "machine.reg";
        std::ofstream(RegFile) << "Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Moscow Exchange\\SPECTRA "
                                  "Client's Gate]\n\"InstallDir\"=\""
                               << Root.string() << "/\"\n";
    }
    ~Installation() {
        std::error_code ec;
        fs::remove_all(Root, ec);
    }
    fs::path Root, Router, RegFile;
};

} // namespace

// Sets an environment variable for one test and puts the old value back however it ends. It is
// built and destroyed on the test's thread while no other thread of the test runs.
// NOLINTBEGIN(concurrency-mt-unsafe)
class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value) : FName(name) {
        const char* old = std::getenv(name);
        FHad = old != nullptr;
        FOld = FHad ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~EnvGuard() {
        if (FHad) {
            setenv(FName, FOld.c_str(), 1);
        } else {
            unsetenv(FName);
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* FName;
    bool FHad = false;
    std::string FOld;
};
// NOLINTEND(concurrency-mt-unsafe)

TEST(Connector, StartsAndStopsARealRouterFoundThroughTheRegistryFile) {
    Installation inst;
    const EnvGuard registry("VORLEN_REGISTRY", inst.RegFile.string());

    TConnectorHooks hooks;
    hooks.Services.ServiceRunning = [](const std::string&, const std::string&) { return false; };
    pid_t pid = 0;
    {
        TCGConnector c(std::move(hooks));
        const std::string routPath =
            c.GetCGRouterPath("SOFTWARE\\Moscow Exchange\\SPECTRA Client's Gate", "InstallDir");
        EXPECT_EQ(routPath, inst.Root.string() + "/bin/");
        ASSERT_TRUE(c.LoadRouter(routPath + "P2MQRouter64.exe", "", "", "client_router.ini",
                                 "127.0.0.1", "SpectraCGate"));
        pid = static_cast<pid_t>(c.Settings().ProcInfo.dwProcessId);
        const fs::path marker = inst.Root / "bin" / "started";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::ifstream in(marker);
        std::stringstream ss;
        ss << in.rdbuf();
        EXPECT_EQ(ss.str(), (inst.Root / "bin").string() + "\n/ini:" + inst.Root.string() +
                                "/client_router.ini\n");
    }
    // Terminated and reaped by the connector's destruction.
    EXPECT_NE(kill(pid, 0), 0);
    EXPECT_EQ(errno, ESRCH);
}
#endif
