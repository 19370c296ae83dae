#include "main/console/ConsoleBacktest.h"

#include "backtest/BacktestReport.h"
#include "backtest/Sweep.h"
#include "history/Reader.h"
#include "main/console/ConsoleDesk.h"
#include "main/console/ConsoleReplay.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vorlen {

namespace {

bool OnTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

// One line, rewritten in place: how far, how fast, how long still. The wall clock is read here
// for the trader's eyes only; nothing of it reaches the result.
class TProgressLine {
public:
    TProgressLine(std::ostream& err, bool on) : FErr(err), FOn(on) {}
    ~TProgressLine() {
        if (FShown)
            FErr << '\n' << std::flush;
    }
    void Show(double done, std::uint64_t records) {
        if (!FOn)
            return;
        std::lock_guard guard(FLock);
        const auto now = std::chrono::steady_clock::now();
        // A few times a second is all a reader can follow.
        if (FShown && done < 1 && now - FLast < std::chrono::milliseconds(200))
            return;
        FLast = now;
        const double secs = std::chrono::duration<double>(now - FStart).count();
        const double rate = secs > 0 ? static_cast<double>(records) / secs : 0;
        const double left = done > 0 ? secs * (1 - done) / done : 0;
        char line[128];
        std::snprintf(line, sizeof line, "\r%5.1f %%  %.0f событий/с  осталось %.0f с   ",
                      done * 100, rate, left);
        FErr << line << std::flush;
        FShown = true;
    }

private:
    std::ostream& FErr;
    bool FOn;
    bool FShown = false;
    std::mutex FLock;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point FLast;
};

bool ReadText(const std::string& path, std::string& out) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    out = text.str();
    return in && !in.bad();
}

// The days of the path, those of the dates --from and --to give.
std::vector<std::filesystem::path> Days(const TConsoleOptions& options) {
    const auto from = ParseBacktestBound(options.From);
    const auto to = ParseBacktestBound(options.To);
    std::vector<std::filesystem::path> days;
    for (const auto& file : backtest::DayFiles(PathFromUtf8(options.BacktestPath))) {
        history::TRecordingReader header;
        const std::string date = header.Open(file) ? header.Header().TradingDate : std::string();
        if ((from && !from->Date.empty() && date < from->Date) ||
            (to && !to->Date.empty() && date > to->Date))
            continue;
        days.push_back(file);
    }
    return days;
}

// "a=1 b=x", as the report names the run's parameters.
std::string ParamsText(const std::vector<TParamOverride>& params) {
    std::string text;
    for (const auto& [name, value] : params) {
        if (!text.empty())
            text += ' ';
        text += name;
        text += '=';
        text += value;
    }
    return text;
}

bool WriteSweep(const std::filesystem::path& dir, const std::vector<backtest::TSweepRun>& runs,
                std::string& error) {
    std::ostringstream text;
    text << "rank";
    if (!runs.empty())
        for (const auto& [name, value] : runs.front().Params)
            text << '\t' << name;
    text << "\tnet_pnl\tgross_pnl\tfees\torders\tfills\trefusals\tmax_drawdown\terror\n";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const backtest::TSummary s = backtest::Summarize(runs[i].Result);
        text << i + 1;
        for (const auto& [name, value] : runs[i].Params)
            text << '\t' << value;
        text << '\t' << backtest::Money(s.Net) << '\t' << backtest::Money(s.Gross) << '\t'
             << backtest::Money(s.Fees) << '\t' << s.Orders << '\t' << s.Fills << '\t' << s.Refusals
             << '\t' << backtest::Money(s.MaxDrawdown) << '\t' << runs[i].Result.Error << '\n';
    }
    std::ofstream out(dir / "sweep.tsv", std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out)
        error = "не удалось записать " + (dir / "sweep.tsv").string();
    return static_cast<bool>(out);
}

} // namespace

int RunBacktestCommand(const TConsoleOptions& options, const TDialogValues& values,
                       unsigned settingsTrSpeed, const std::filesystem::path& dataDir,
                       const std::string& reportDir, std::ostream& out, std::ostream& err) {
    const auto fail = [&err](const std::string& text, int code) {
        err << "vorlen-console: --backtest: " << text << '\n' << std::flush;
        return code;
    };
    backtest::TBacktestConfig config;
    config.Isin = options.ExpertIsin;
    if (!ReadText(options.StrategyFile, config.StrategySource))
        return fail("cannot read \"" + options.StrategyFile + "\"", kExitErrorBox);
    config.StrategyName = PathFromUtf8(options.StrategyFile).filename().string();
    for (const std::string& p : options.StrategyParams) {
        TParamOverride o;
        if (!SplitParamOverride(p, o))
            return fail("--param wants name=value, not \"" + p + "\"", kExitUsage);
        config.Params.push_back(o);
    }
    if (!LoadRiskLimits(options, dataDir, config.Limits, err))
        return kExitUsage;
    config.Fill = fills::ParseFillModel(options.FillModel.empty() ? "touch" : options.FillModel)
                      .value_or(fills::TFillModel::Touch);
    config.LatencyMs = options.LatencyMs;
    config.FeePerLot = options.FeePerLot.value_or(0);
    config.PostsPerSecond = options.TrMax ? *options.TrMax : static_cast<int>(settingsTrSpeed);
    if (const auto from = ParseBacktestBound(options.From); from && from->Minute)
        config.FromMinute = from->Minute;
    if (const auto to = ParseBacktestBound(options.To); to && to->Minute)
        config.ToMinute = to->Minute;
    config.Days = Days(options);
    if (config.Days.empty())
        return fail("no recordings in \"" + options.BacktestPath + "\"", kExitBacktestFailed);
    std::vector<backtest::TSweepAxis> axes;
    for (const std::string& s : options.Sweeps) {
        std::string error;
        const auto axis = backtest::ParseSweepAxis(s, error);
        if (!axis)
            return fail(error, kExitUsage);
        axes.push_back(*axis);
    }

    TDecimalsLibrary library;
    if (!library.Load(values))
        return fail("the gateway library was not found: the recorded prices cannot be read",
                    kExitBacktestFailed);

    TProgressLine progress(err, OnTerminal());
    backtest::TBacktestResult result;
    std::vector<backtest::TSweepRun> runs;
    std::string params;
    if (axes.empty()) {
        config.Progress = [&progress](double done, std::uint64_t records) {
            progress.Show(done, records);
        };
        result = backtest::RunBacktest(config);
        progress.Show(1, result.Records);
        params = ParamsText(config.Params);
    } else {
        runs = backtest::RunSweep(
            config, axes, options.Workers, [&progress](std::size_t done, std::size_t all) {
                progress.Show(static_cast<double>(done) / static_cast<double>(all), 0);
            });
        params = ParamsText(runs.front().Params);
        result = runs.front().Result;
    }
    const std::filesystem::path dir = PathFromUtf8(reportDir);
    const backtest::TRunFacts facts = {
        {"strategy", config.StrategyName},
        {"isin", config.Isin},
        {"params", params},
        {"fill", std::string(fills::FillModelName(config.Fill))},
        {"latency_ms", std::to_string(config.LatencyMs)},
        {"days", std::to_string(config.Days.size())},
    };
    std::string error;
    if (!backtest::WriteReport(dir, facts, result, error) ||
        (!runs.empty() && !WriteSweep(dir, runs, error)))
        return fail(error, kExitDumpFailed);
    for (const auto& [name, value] : backtest::SummaryRows(result))
        out << name << '\t' << value << '\n';
    out << std::flush;
    for (const backtest::TSweepRun& r : runs)
        if (!r.Result.Ok)
            return fail(r.Result.Error, kExitBacktestFailed);
    if (!result.Ok)
        return fail(result.Error, kExitBacktestFailed);
    return 0;
}

} // namespace vorlen
