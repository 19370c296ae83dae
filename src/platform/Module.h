#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#ifdef _WIN32
// windows.h defines FreeModule as a macro for FreeLibrary. Taking the header in here, once, and
// dropping the macro keeps our FreeModule a function whichever of the two a file includes first.
#include <windows.h>
#undef FreeModule
#endif

namespace vorlen::platform {

// A loaded shared library, as the operating system's handle (HMODULE on Windows, the dlopen
// handle elsewhere) in an integer; 0 means not loaded.
using ModuleHandle = std::uintptr_t;

// Windows' old convention, which module and process handles here follow: a value below 32 is an
// error code, never a handle.
inline constexpr std::uintptr_t kFirstHandle = 32;

ModuleHandle LoadModule(const std::string& fileName);      // UTF-8 path; 0 on failure
void* ModuleSymbol(ModuleHandle module, const char* name); // nullptr when missing
void FreeModule(ModuleHandle module);
// Text of the last loader failure on this thread, for diagnostics.
std::string LastLoaderError();

// Makes `dir` the process's current directory; false when that fails.
bool SetCurrentDir(const std::string& dir);
std::string CurrentDir();
// Folder of the running executable, with a trailing separator.
std::string ExecutableDir();

// The directory separator of this platform, and the directory part of a path (up to and
// including its last separator; empty when there is none).
char PathSeparator();
std::string DirectoryOf(const std::string& path, char separator);

// Whether `name` names a file in a folder given elsewhere and nothing more: not empty, no "/",
// "\\" or ":" (which would reach another folder or drive), no "..", no quotation mark (which
// would end a quoted program name on a command line) and no control character. Names that come
// from a settings file are checked with it before anything is loaded or started.
bool IsPlainFileName(std::string_view name);

} // namespace vorlen::platform
