#pragma once

#include "platform/Process.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen::platform {

// Splits a command line into arguments exactly as Windows' CommandLineToArgvW does, so a line
// built for CreateProcess starts the same program with the same arguments elsewhere:
//  - the first argument (the program) ends at the next blank or tab, or, when it begins with a
//    quotation mark, at the next quotation mark; backslashes in it are plain characters;
//  - later arguments are separated by blanks and tabs outside quotation marks; 2n backslashes
//    before a quotation mark give n backslashes and the mark opens or closes quoting, 2n+1 give
//    n backslashes and a literal mark; backslashes elsewhere are plain; inside quoting, a
//    doubled mark gives one literal mark and ends the quoting.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// One argument after the program's name, written so that SplitCommandLine (and Windows) read it
// back unchanged whatever characters it holds: as it is when it needs no quoting (and `always`
// is false), otherwise in quotation marks, with each mark and the backslashes before a mark or
// before the closing mark escaped.
std::string QuoteArgument(std::string_view argument, bool always = false);

// Starts `application` with the given command line (whose first argument names the same
// program), with `currentDir` as its current directory (the caller's own when empty), the
// caller's environment, no window and no inherited handles, and fills `info`. False when the
// process could not be created. The program is never looked up in PATH, and its path is never
// taken back out of the command line, so no character of it can change what is started.
//
// Windows: CreateProcessW with the application name and the command line, no security
// attributes, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, a start-up record that is zero apart
// from its size and wShowWindow = 1.
//
// Elsewhere: posix_spawn of `application` (a relative one against the caller's directory) with
// the arguments SplitCommandLine gives; a command line whose first argument is not
// `application` is refused. The child gets /dev/null as standard input and output, no other
// descriptor of ours, default signal handling, and a process group of its own, so a Ctrl+C
// meant for the terminal does not reach it before the terminal has shut down in order. `info`
// receives opaque handles that are never below 32: hProcess = kProcessHandleBase + 2 * pid,
// hThread = that + 1; both process and thread ids are the pid. The handles stay valid until
// closed, and a handle that was never issued, or was closed, is refused by the calls below, so
// a stale value can never reach a process that happens to have reused the pid.
bool StartProcess(const std::string& application, const std::string& commandLine,
                  const std::string& currentDir, TProcInfo& info);

// Ends a started process. Windows: TerminateProcess(process, exitCode), then up to `graceMs` for
// the termination, which Windows carries out after the call has returned. Elsewhere: SIGTERM, a
// grace period of `graceMs` for it to exit, then SIGKILL; the process is reaped in both cases
// (exitCode is not used there). True when the process has ended (on Windows also when that
// wait ran out, the termination being under way).
bool TerminateStartedProcess(std::uintptr_t process, std::uint32_t exitCode, int graceMs = 1000);

// How a started process ended: its exit code, or (outside Windows) the signal that ended it.
struct TProcessExit {
    bool Signalled = false;
    int Code = 0;
};

// Asks, without waiting, whether a started process has ended; one that has is reaped at once, so
// it never lingers as a zombie. True (with `ended` filled when this call saw the end) once it has
// ended; false while it runs or for a handle that is not ours.
bool StartedProcessExited(std::uintptr_t process, TProcessExit& ended);

// Closes a process or thread handle from TProcInfo. True on success.
bool CloseProcessHandle(std::uintptr_t handle);

// The handles of TProcInfo as integers (they are HANDLEs on Windows), and their clearing.
std::uintptr_t ProcessHandleValue(const TProcInfo& info);
std::uintptr_t ThreadHandleValue(const TProcInfo& info);
void ClearProcessHandle(TProcInfo& info);
void ClearThreadHandle(TProcInfo& info);

#ifndef _WIN32
inline constexpr std::uintptr_t kProcessHandleBase = 0x10000;
#endif

} // namespace vorlen::platform
