#include "health/HealthMachine.h"

#include <algorithm>

namespace vorlen {

namespace {
constexpr int kActive = 3;
}

std::string_view HealthStateName(THealthState state) {
    switch (state) {
    case THealthState::Online:
        return "на связи";
    case THealthState::Connecting:
        return "подключение";
    case THealthState::Reconnecting:
        return "переподключение";
    case THealthState::Stale:
        return "нет данных";
    case THealthState::Disconnected:
        break;
    }
    return "отключено";
}

std::string FormatOutage(std::int64_t ms) {
    ms = std::max<std::int64_t>(ms, 0);
    const std::int64_t s = ms / 1000;
    const auto two = [](std::int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    if (s < 60) {
        return std::to_string(s) + "," + std::to_string(ms % 1000 / 100) + " с";
    }
    if (s < 3600) {
        return std::to_string(s / 60) + " мин " + two(s % 60) + " с";
    }
    return std::to_string(s / 3600) + " ч " + two(s % 3600 / 60) + " мин";
}

void THealthMachine::Configure(std::string router, std::int64_t routerTimeoutMs) {
    FRouter = std::move(router);
    FRouterTimeoutMs = routerTimeoutMs > 0 ? routerTimeoutMs : 2000;
}

THealthState THealthMachine::Next(const TLinkFacts& f, std::int64_t exchangeSilentSince,
                                  std::int64_t now) {
    if (!f.Running) {
        return THealthState::Disconnected;
    }
    if (f.ConnState != kActive || !f.Ready) {
        FReadySince = -1;
        return FEverOnline ? THealthState::Reconnecting : THealthState::Connecting;
    }
    if (FReadySince < 0) {
        // The heartbeat's silence counts from the moment the connection is up again, not from
        // the last beat before it went down.
        FReadySince = now;
    }
    const std::int64_t beat = std::max(FLastBeat, FReadySince);
    if (f.HeartbeatWatched && now - beat > kStaleAfterMs) {
        FSilentSince = beat;
        return THealthState::Stale;
    }
    if (exchangeSilentSince >= 0) {
        FSilentSince = std::max(exchangeSilentSince, FReadySince);
        return THealthState::Stale;
    }
    return THealthState::Online;
}

std::string THealthMachine::Enter(THealthState next, const TLinkFacts& f, std::int64_t now) {
    const THealthState prev = FState;
    FState = next;
    switch (next) {
    case THealthState::Online: {
        const bool wasOnline = FEverOnline;
        FEverOnline = true;
        if (!wasOnline || FOutageStart < 0) {
            FOutageStart = -1;
            return "Соединение " + FName + " на связи.";
        }
        std::string text =
            "Соединение " + FName + " восстановлено. Перерыв " + FormatOutage(now - FOutageStart);
        const std::uint32_t attempts = f.Attempts - FAttemptsAtOutage;
        if (attempts > 0) {
            text += ", попыток переподключения: " + std::to_string(attempts);
        }
        FOutageStart = -1;
        return text + ".";
    }
    case THealthState::Reconnecting:
        if (FOutageStart < 0) {
            FOutageStart = now;
            FAttemptsAtOutage = f.Attempts;
        }
        return "Внимание: Соединение " + FName + " потеряно. Переподключение...";
    case THealthState::Stale:
        if (FOutageStart < 0 && FEverOnline) {
            // The data stopped with the last beat, not when its absence became noticeable.
            FOutageStart = FSilentSince;
            FAttemptsAtOutage = f.Attempts;
        }
        return "Внимание: Биржа не присылает данные более 5 с, соединение " + FName + " открыто.";
    case THealthState::Connecting:
        if (prev == THealthState::Disconnected) {
            FRunStart = now;
            FAttemptsAtRun = f.Attempts;
            FSeenActive = false;
            FUnreachableTold = false;
        }
        return {};
    case THealthState::Disconnected:
        FEverOnline = false;
        FOutageStart = -1;
        FReadySince = -1;
        return "Соединение " + FName + " отключено.";
    }
    return {};
}

std::vector<std::string>
THealthMachine::Observe(const TLinkFacts& f, std::int64_t exchangeSilentSince, std::int64_t now) {
    if (!FSeen || f.Data != FData) {
        if (FSeen) {
            FLastData = now;
        }
        FData = f.Data;
    }
    if (!FSeen || f.Heartbeats != FBeats) {
        if (FSeen) {
            FLastBeat = now;
        }
        FBeats = f.Heartbeats;
    }
    FSeen = true;

    std::vector<std::string> lines;
    THealthState next = Next(f, exchangeSilentSince, now);
    if (next != FState) {
        if (FState == THealthState::Disconnected && next != THealthState::Connecting) {
            // A run starts connecting, even when the first sample finds it further on.
            Enter(THealthState::Connecting, f, now);
        }
        if (std::string text = Enter(next, f, now); !text.empty()) {
            lines.push_back(std::move(text));
        }
    }
    if (f.ConnState == kActive) {
        FSeenActive = true;
    }
    if (FState == THealthState::Connecting && !FSeenActive && !FUnreachableTold &&
        (now - FRunStart >= FRouterTimeoutMs || f.Attempts - FAttemptsAtRun >= 2)) {
        FUnreachableTold = true;
        lines.push_back("Внимание: Роутер " + FRouter + " недоступен, соединение " + FName +
                        " не открыто. Попытки подключения продолжаются...");
    }
    return lines;
}

} // namespace vorlen
