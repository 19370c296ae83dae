#include "connector/RouterKeeper.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

namespace vorlen {

namespace {

constexpr const char* kNotRunning = "роутер не запущен";

std::string Seconds(std::int64_t ms) {
    return std::to_string((ms + 999) / 1000) + " с";
}

} // namespace

std::int64_t TRouterKeeper::PauseMs(int failures) {
    // 1 + 5 + 15 + 30: four starts at most in the first minute of a router that dies at once,
    // two a minute after that.
    static constexpr std::array<std::int64_t, 4> kPauses{1000, 5000, 15000, 30000};
    const auto at = static_cast<std::size_t>(std::clamp(failures, 0, 3));
    return kPauses[at];
}

TRouterKeeper::TRouterKeeper(TRouterServices services, TRouterStart start, const TProcInfo& started,
                             TClock clock)
    : FServices(std::move(services)), FStart(std::move(start)), FClock(std::move(clock)),
      FProc(started), FRunning(true), FStartedAt(FClock()) {}

void TRouterKeeper::SetOnStarted(std::function<void(std::uintptr_t process)> onStarted) {
    std::lock_guard lock(FLock);
    FOnStarted = std::move(onStarted);
}

TProcInfo TRouterKeeper::Take() {
    std::lock_guard lock(FLock);
    FTaken = true;
    const TProcInfo now = FRunning ? FProc : TProcInfo{};
    FRunning = false;
    FProc = TProcInfo{};
    return now;
}

TProcessReport TRouterKeeper::Poll(bool served) {
    std::lock_guard lock(FLock);
    TProcessReport report;
    if (FTaken)
        return report;
    const std::int64_t now = FClock();
    if (FRunning) {
        const std::uintptr_t process = platform::ProcessHandleValue(FProc);
        platform::TProcessExit ended;
        if (!FServices.ProcessExited || !FServices.ProcessExited(process, ended)) {
            report.Starting = now - FStartedAt < kStartGraceMs;
            return report;
        }
        report.Lines.push_back("Внимание: Роутер, запущенный терминалом, завершил работу (" +
                               std::string(ended.Signalled ? "сигнал " : "код выхода ") +
                               std::to_string(ended.Code) + ").");
        // Reaped already: its handles would only fill the table of issued ones.
        if (FServices.CloseHandle) {
            FServices.CloseHandle(platform::ThreadHandleValue(FProc));
            FServices.CloseHandle(process);
        }
        FProc = TProcInfo{};
        FRunning = false;
        if (now - FStartedAt >= kSteadyMs)
            FFailures = 0;
        FNextStart = now + PauseMs(FFailures);
        ++FFailures;
        FProblem = kNotRunning;
    }
    if (!FRunning && now >= FNextStart && served) {
        if (!FHeldOff)
            report.Lines.emplace_back("Внимание: Роутер не перезапущен: соединения на связи через "
                                      "другой роутер на том же порту.");
        FHeldOff = true;
        FProblem.clear();
    } else if (!FRunning && now >= FNextStart) {
        FHeldOff = false;
        Start(now, report);
    }
    report.Problem = FProblem;
    report.Starting = FRunning && now - FStartedAt < kStartGraceMs;
    return report;
}

void TRouterKeeper::Start(std::int64_t now, TProcessReport& report) {
    ++FStarts;
    TProcInfo info{};
    if (FServices.StartProcess &&
        FServices.StartProcess(FStart.Application, FStart.CommandLine, FStart.Dir, info)) {
        FProc = info;
        FRunning = true;
        FStartedAt = now;
        FProblem.clear();
        report.Lines.push_back("Роутер запущен терминалом повторно (попытка " +
                               std::to_string(FStarts) + ").");
        if (FOnStarted)
            FOnStarted(platform::ProcessHandleValue(FProc));
        return;
    }
    std::error_code ec;
    const std::u8string name(FStart.Application.begin(), FStart.Application.end());
    const bool exists = std::filesystem::exists(std::filesystem::path(name), ec);
    const std::string why =
        exists ? "процесс не создан" : "файл " + FStart.Application + " не найден";
    const std::int64_t pause = PauseMs(FFailures);
    ++FFailures;
    FNextStart = now + pause;
    FProblem = kNotRunning;
    report.Lines.push_back("Ошибка: Роутер не запущен терминалом (" + why +
                           "). Следующая попытка через " + Seconds(pause) + ".");
}

} // namespace vorlen
