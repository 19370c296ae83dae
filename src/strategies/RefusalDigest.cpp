#include "strategies/RefusalDigest.h"

namespace vorlen {

bool TRefusalDigest::Admit(TClock::time_point now, std::string& refusal) {
    if (FRefused < kPassed || now - FStart >= kWindow)
        return true;
    ++FCounted;
    refusal =
        "отклонено без проверки: слишком много отказов за секунду (последняя причина: " + FLast +
        ")";
    return false;
}

void TRefusalDigest::Refused(TClock::time_point now, const std::string& reason) {
    if (FRefused == 0 || now - FStart >= kWindow) {
        // The caller takes the last window's line before it places anything.
        FStart = now;
        FRefused = 0;
    }
    ++FRefused;
    FLast = reason;
}

std::string TRefusalDigest::TakeLine(TClock::time_point now, const std::string& strategy,
                                     bool all) {
    if (FCounted == 0 || (!all && now - FStart < kWindow))
        return {};
    std::string line = "Стратегия " + strategy +
                       ": отклонено заявок стратегии: " + std::to_string(FCounted) +
                       ", последняя причина: " + FLast + ".";
    FCounted = 0;
    return line;
}

bool TLogAllowance::Admit(TClock::time_point now) {
    if (FLines == 0 || now - FStart >= std::chrono::seconds(1)) {
        FStart = now;
        FLines = 0;
    }
    if (FLines >= kLines) {
        ++FDropped;
        return false;
    }
    ++FLines;
    return true;
}

std::string TLogAllowance::TakeLine(TClock::time_point now, const std::string& strategy, bool all) {
    if (FDropped == 0 || (!all && now - FStart < std::chrono::seconds(1)))
        return {};
    std::string line = "Стратегия " + strategy +
                       ": строк журнала стратегии не записано: " + std::to_string(FDropped) +
                       " (больше " + std::to_string(kLines) + " в секунду).";
    FDropped = 0;
    return line;
}

} // namespace vorlen
