#include "main/console/ConsoleReplay.h"

#include "connector/Connector.h"
#include "gateway/Cgate.h"
#include "grids/OrderMenus.h"
#include "history/Reader.h"
#include "history/Replay.h"
#include "main/console/ConsoleGrids.h"
#include "main/console/StoreDump.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/Registry.h"

#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>

namespace vorlen {

namespace {

// "HH:MM:SS" local time on the recording's date, as the receive times count: nanoseconds since
// 1970 UTC, up to the end of that second.
std::optional<std::int64_t> MomentOf(const std::string& date, int secondsOfDay) {
    std::tm t{};
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d", &t.tm_year, &t.tm_mon, &t.tm_mday) != 3)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    t.tm_hour = secondsOfDay / 3600;
    t.tm_min = secondsOfDay / 60 % 60;
    t.tm_sec = secondsOfDay % 60;
    t.tm_isdst = -1;
    const std::time_t at = std::mktime(&t);
    if (at == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<std::int64_t>(at) * 1'000'000'000 + 999'999'999;
}

} // namespace

TDecimalsLibrary::~TDecimalsLibrary() {
    if (FHandle >= platform::kFirstHandle) {
        CG() = TCGateEntryPoints{};
        platform::FreeModule(FHandle);
    }
}

bool TDecimalsLibrary::Load(const TDialogValues& values) {
    std::string installDir;
    if (platform::ReadMachineString(values.RegKeyEdit, values.RegRecordEdit, installDir)) {
        const std::string dir = RouterDirFromInstallDir(installDir, platform::PathSeparator());
        FHandle = LoadCGateLibrary(dir + values.CgateDllEdit);
    }
    return FHandle >= platform::kFirstHandle;
}

int RunReplay(const TConsoleOptions& options, const TDialogValues& values,
              const std::string& dumpDir, std::ostream& err) {
    const std::filesystem::path file = PathFromUtf8(options.ReplayFile);
    std::int64_t until = std::numeric_limits<std::int64_t>::max();
    if (!options.AtTime.empty()) {
        history::TRecordingReader header;
        std::optional<std::int64_t> at;
        if (header.Open(file))
            at = MomentOf(header.Header().TradingDate, *ParseTimeOfDay(options.AtTime));
        if (!at) {
            err << "vorlen-console: --replay-file: " << options.ReplayFile << ": "
                << (header.Error().empty() ? "no trading date to take --at on" : header.Error())
                << '\n'
                << std::flush;
            return kExitErrorBox;
        }
        until = *at;
    }

    TDecimalsLibrary library;
    if (!library.Load(values))
        err << "vorlen-console: --replay-file: the gateway library was not found; decimal "
               "fields are left empty\n"
            << std::flush;

    auto replay = std::make_unique<history::TReplay>();
    // The lists leave out what the live run's settings left out.
    replay->Store().SetCLTFut(values.CLTBox);
    std::string error;
    if (!replay->Run(file, error, until)) {
        err << "vorlen-console: --replay-file: " << options.ReplayFile << ": " << error << '\n'
            << std::flush;
        return kExitErrorBox;
    }
    const history::TReplayStats& stats = replay->Stats();
    err << "vorlen-console: replayed " << stats.Records << " record(s) of "
        << replay->TradingDate();
    if (stats.Skipped > 0)
        err << ", " << stats.Skipped << " damaged place(s) passed over";
    if (stats.Lost > 0)
        err << ", " << stats.Lost << " message(s) missing from the recording";
    if (!stats.InstrumentsBuilt)
        err << "; the streams were not all on-line by then, so the instrument lists are empty";
    err << '\n' << std::flush;

    // The grids a live run starts with and the filters its menus start with: the replay's
    // grids come out as that run's did at the recording's end.
    TConsoleGrids grids;
    if (!WriteDump(PathFromUtf8(dumpDir),
                   CollectReplicaDump(replay->Store(), grids, kFilterActive, kFilterActive),
                   error)) {
        err << "vorlen-console: " << error << '\n' << std::flush;
        return kExitDumpFailed;
    }
    return 0;
}

} // namespace vorlen
