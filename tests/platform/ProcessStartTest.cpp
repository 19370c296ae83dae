#include "platform/ProcessStart.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using vorlen::platform::CloseProcessHandle;
using vorlen::platform::SplitCommandLine;
using vorlen::platform::StartedProcessExited;
using vorlen::platform::StartProcess;
using vorlen::platform::TerminateStartedProcess;
using vorlen::platform::TProcessExit;

using Args = std::vector<std::string>;

TEST(SplitCommandLine, SplitsTheRouterCommandLines) {
    EXPECT_EQ(SplitCommandLine(R"("C:\X\bin\P2MQRouter64.exe" /ini:"C:\X\client_router.ini")"),
              (Args{R"(C:\X\bin\P2MQRouter64.exe)", R"(/ini:C:\X\client_router.ini)"}));
    EXPECT_EQ(SplitCommandLine(R"("C:\Robin\CGate\P2MQRouter64.exe" /ini:C:\Robin\CGate\)"),
              (Args{R"(C:\Robin\CGate\P2MQRouter64.exe)", R"(/ini:C:\Robin\CGate\)"}));
    EXPECT_EQ(
        SplitCommandLine(R"("/opt/my gate/bin/router" /ini:"/opt/my gate/client_router.ini")"),
        (Args{"/opt/my gate/bin/router", "/ini:/opt/my gate/client_router.ini"}));
}

TEST(SplitCommandLine, TreatsTheProgramNameSpecially) {
    // A quoted program ends at the next mark, backslashes and all; text right after it starts
    // the next argument.
    EXPECT_EQ(SplitCommandLine(R"("C:\dir\" x)"), (Args{R"(C:\dir\)", "x"}));
    EXPECT_EQ(SplitCommandLine(R"("a b"c d)"), (Args{"a b", "c", "d"}));
    EXPECT_EQ(SplitCommandLine(R"(a\"b c)"), (Args{R"(a\"b)", "c"}));
    EXPECT_EQ(SplitCommandLine(R"("unterminated)"), (Args{"unterminated"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine("prog"), Args{"prog"});
}

TEST(SplitCommandLine, FollowsTheBackslashAndQuotationRules) {
    EXPECT_EQ(SplitCommandLine("p \t a   b  \t"), (Args{"p", "a", "b"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\b\\c)"), (Args{"p", R"(a\b\\c)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\"b c")"), (Args{"p", R"(a\b c)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\\"b)"), (Args{"p", R"(a\"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\\\"b")"), (Args{"p", R"(a\\b)"}));
    EXPECT_EQ(SplitCommandLine(R"(p "" x)"), (Args{"p", "", "x"}));
    EXPECT_EQ(SplitCommandLine(R"(p "a b"c)"), (Args{"p", "a bc"}));
    // A doubled mark inside quoting gives one mark and ends the quoting.
    EXPECT_EQ(SplitCommandLine(R"(p "a""b c" d)"), (Args{"p", R"(a"b)", "c d"}));
    EXPECT_EQ(SplitCommandLine(R"(p "a"" b)"), (Args{"p", R"(a")", "b"}));
    EXPECT_EQ(SplitCommandLine(R"(p """a""")"), (Args{"p", R"("a")"}));
    EXPECT_EQ(SplitCommandLine(R"(p "Шлюз биржи")"), (Args{"p", "Шлюз биржи"}));
}

// Every argument comes back from its quoted form unchanged, so a value with blanks, marks,
// backslashes or shell syntax stays one argument.
TEST(QuoteArgument, SplitsBackIntoTheSameArguments) {
    const Args values = {"plain",
                         "",
                         "a b",
                         "tab\there",
                         R"(C:\Program Files\Gate\)",
                         R"(x" -c "id > /tmp/x" ")",
                         R"(back\"slash)",
                         R"(\\server\share\\)",
                         "new\nline",
                         "a; rm -rf x",
                         "$(id)",
                         "\"\"\"",
                         "Шлюз биржи"};
    std::string line = "prog";
    for (const std::string& v : values) {
        line += ' ' + vorlen::platform::QuoteArgument(v);
    }
    Args expected = {"prog"};
    expected.insert(expected.end(), values.begin(), values.end());
    EXPECT_EQ(SplitCommandLine(line), expected) << line;

    // Quoting is added only where it is needed, unless asked for.
    EXPECT_EQ(vorlen::platform::QuoteArgument(R"(C:\Gate\)"), R"(C:\Gate\)");
    EXPECT_EQ(vorlen::platform::QuoteArgument(R"(C:\X\client_router.ini)", true),
              R"("C:\X\client_router.ini")");
}

// Real children, started from command lines of the shapes the router gets.
#ifndef _WIN32

namespace fs = std::filesystem;
using vorlen::TProcInfo;

namespace {

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vorlen-proc-XXXXXX").string();
        Path = fs::canonical(mkdtemp(pattern.data()));
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    fs::path Path;
};

// Waits for a file that a child writes, then reads it whole.
std::string WaitForFile(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(path.string() + ".done")) {
            std::ifstream in(path);
            std::stringstream ss;
            ss << in.rdbuf();
            return ss.str();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "no " << path;
    return {};
}

bool ProcessExists(pid_t pid) {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

// Ends a test's child whatever happened to the assertions.
struct ChildGuard {
    TProcInfo& Info;
    ~ChildGuard() {
        if (Info.hProcess != 0) {
            TerminateStartedProcess(Info.hProcess, 0, 100);
            CloseProcessHandle(Info.hThread);
            CloseProcessHandle(Info.hProcess);
        }
    }
};

} // namespace

TEST(ProcessStart, StartsAndTerminatesARealChild) {
    TProcInfo info;
    ChildGuard guard{info};
    ASSERT_TRUE(StartProcess("/bin/sleep", R"("/bin/sleep" 30)", "", info));
    EXPECT_GE(info.hProcess, 32u);
    EXPECT_GE(info.hThread, 32u);
    EXPECT_NE(info.hProcess, info.hThread);
    const auto pid = static_cast<pid_t>(info.dwProcessId);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(ProcessExists(pid));
    // A group of its own: a Ctrl+C at the terminal reaches only the terminal.
    EXPECT_EQ(getpgid(pid), pid);

    EXPECT_TRUE(TerminateStartedProcess(info.hProcess, 0));
    // Reaped, not left as a zombie: the pid no longer exists at all.
    EXPECT_FALSE(ProcessExists(pid));
    EXPECT_TRUE(CloseProcessHandle(info.hThread));
    EXPECT_TRUE(CloseProcessHandle(info.hProcess));
    // Closed handles are refused from now on.
    EXPECT_FALSE(CloseProcessHandle(info.hProcess));
    EXPECT_FALSE(TerminateStartedProcess(info.hProcess, 0));
    info.hProcess = 0;
}

TEST(ProcessStart, KillsAChildThatIgnoresTheTerminationRequest) {
    TProcInfo info;
    ChildGuard guard{info};
    TempDir dir;
    ASSERT_TRUE(StartProcess("/bin/sh",
                             R"(/bin/sh -c "trap '' TERM; : > ready.done; exec sleep 30")",
                             dir.Path.string(), info));
    WaitForFile(dir.Path / "ready");
    const auto pid = static_cast<pid_t>(info.dwProcessId);
    EXPECT_TRUE(TerminateStartedProcess(info.hProcess, 0, 50));
    EXPECT_FALSE(ProcessExists(pid));
}

TEST(ProcessStart, ReapsAChildThatHasAlreadyExited) {
    TProcInfo info;
    ChildGuard guard{info};
    TempDir dir;
    ASSERT_TRUE(StartProcess("/bin/sh", R"(/bin/sh -c ": > gone.done")", dir.Path.string(), info));
    WaitForFile(dir.Path / "gone");
    const auto pid = static_cast<pid_t>(info.dwProcessId);
    EXPECT_TRUE(TerminateStartedProcess(info.hProcess, 0));
    EXPECT_FALSE(ProcessExists(pid));
}

// A child that ends by itself is found ended without waiting and reaped at once, whether it
// exited or was killed; the later termination at close finds nothing left to do.
TEST(ProcessStart, TellsHowAChildEndedAndReapsIt) {
    struct TCase {
        const char* CommandLine;
        bool Signalled;
        int Code;
    };
    for (const TCase& c : {TCase{R"(/bin/sh -c "exit 3")", false, 3},
                           TCase{R"(/bin/sh -c "kill -9 $$")", true, 9}}) {
        TProcInfo info;
        ChildGuard guard{info};
        ASSERT_TRUE(StartProcess("/bin/sh", c.CommandLine, "", info));
        const auto pid = static_cast<pid_t>(info.dwProcessId);
        TProcessExit ended;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!StartedProcessExited(info.hProcess, ended) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(ended.Signalled, c.Signalled) << c.CommandLine;
        EXPECT_EQ(ended.Code, c.Code) << c.CommandLine;
        EXPECT_FALSE(ProcessExists(pid)) << "left as a zombie";
        EXPECT_TRUE(StartedProcessExited(info.hProcess, ended));
        EXPECT_FALSE(StartedProcessExited(info.hThread, ended));
        EXPECT_TRUE(TerminateStartedProcess(info.hProcess, 0));
    }
    TProcessExit none;
    EXPECT_FALSE(StartedProcessExited(0, none));
}

TEST(ProcessStart, PassesArgumentsDirectoryAndNothingElse) {
    TProcInfo info;
    ChildGuard guard{info};
    TempDir dir;
    // A descriptor of ours without close-on-exec must not reach the child.
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(dup2(fd, 57), 57);
    close(fd);
    const bool started = StartProcess(
        "/bin/sh",
        R"(/bin/sh -c "pwd > out; printf '%s\n' \"$@\" >> out; [ -e /proc/self/fd/57 ] || echo closed >> out; : > out.done" sh "a b" c\"d \\x)",
        dir.Path.string(), info);
    close(57);
    ASSERT_TRUE(started);
    const std::string out = WaitForFile(dir.Path / "out");
    EXPECT_EQ(out, dir.Path.string() + "\na b\nc\"d\n\\\\x\nclosed\n");
}

TEST(ProcessStart, ResolvesARelativeProgramAgainstTheCallersDirectory) {
    TProcInfo info;
    ChildGuard guard{info};
    TempDir dir;
    fs::create_directories(dir.Path / "tools");
    fs::create_directories(dir.Path / "work");
    {
        std::ofstream script(dir.Path / "tools" / "mark.sh");
        script << "#!/bin/sh\n: > marked.done\n";
    }
    fs::permissions(dir.Path / "tools" / "mark.sh", fs::perms::owner_all);
    const fs::path old = fs::current_path();
    fs::current_path(dir.Path);
    const bool started =
        StartProcess("tools/mark.sh", "tools/mark.sh", (dir.Path / "work").string(), info);
    fs::current_path(old);
    ASSERT_TRUE(started);
    WaitForFile(dir.Path / "work" / "marked");
}

TEST(ProcessStart, ReportsWhatCannotBeStarted) {
    TProcInfo info;
    EXPECT_FALSE(StartProcess("/nonexistent/router", "/nonexistent/router /ini:x", "", info));
    EXPECT_FALSE(StartProcess("/bin/sleep", "/bin/sleep 1", "/nonexistent/dir", info));
    EXPECT_FALSE(StartProcess("", "", "", info));
    EXPECT_FALSE(StartProcess("", "\"\" x", "", info));
    // The program is the one named apart, never one read out of the line, nor one from PATH.
    EXPECT_FALSE(StartProcess("/bin/sleep", R"("/bin/sh" -c "exit 0")", "", info));
    EXPECT_FALSE(StartProcess("sleep", "sleep 1", "", info));
    EXPECT_EQ(info.hProcess, 0u);

    EXPECT_FALSE(TerminateStartedProcess(0, 0));
    EXPECT_FALSE(TerminateStartedProcess(31, 0));
    EXPECT_FALSE(TerminateStartedProcess(
        vorlen::platform::kProcessHandleBase + std::uintptr_t{2} * 4242, 0));
    EXPECT_FALSE(CloseProcessHandle(5));
}

#endif
