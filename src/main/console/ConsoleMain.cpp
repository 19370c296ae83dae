// vorlen-console: the terminal without windows.

#include "main/console/ConsoleOptions.h"
#include "main/console/ConsoleTerminal.h"
#include "main/console/StopWatcher.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
    vorlen::TStopWatcher::PrepareProcess();
#ifdef _WIN32
    // The journal is UTF-8 and Russian.
    SetConsoleOutputCP(CP_UTF8);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    vorlen::TConsoleOptions options;
    std::string error;
    if (!vorlen::ParseConsoleOptions(args, options, error)) {
        std::cerr << "vorlen-console: " << error << "\n\n" << vorlen::ConsoleUsage();
        return vorlen::kExitUsage;
    }
    if (options.Help) {
        std::cout << vorlen::ConsoleUsage();
        return 0;
    }
    try {
        return vorlen::RunConsole(options, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "vorlen-console: " << e.what() << '\n';
        return vorlen::kExitErrorBox;
    }
}
