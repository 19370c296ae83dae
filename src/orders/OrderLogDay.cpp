#include "orders/OrderLogDay.h"

#include "platform/FormatSettings.h"

#include <chrono>
#include <ctime>
#include <deque>

namespace vorlen::orders {

namespace {

constexpr std::string_view kArrow = " --> ";
constexpr std::string_view kAttempt = "Заявка: ";
constexpr std::string_view kSent = "Заявка отправлена, транзакция ";
constexpr std::string_view kRefused = "Заявка отклонена: ";
constexpr std::string_view kNotSent = "Заявка не отправлена: ";
constexpr std::string_view kAnswer = "Ответ на заявку (транзакция ";
constexpr std::string_view kOrderNo = ", номер заявки ";

bool Digits(std::string_view s) {
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !s.empty();
}

// "hh:mm:ss.zzz" as milliseconds of the day; -1 for anything else.
std::int64_t TimeOfDayMs(std::string_view t) {
    if (t.size() != 12 || t[2] != ':' || t[5] != ':' || t[8] != '.' || !Digits(t.substr(0, 2)) ||
        !Digits(t.substr(3, 2)) || !Digits(t.substr(6, 2)) || !Digits(t.substr(9, 3))) {
        return -1;
    }
    const auto n = [&](std::size_t at, std::size_t len) {
        return std::stoll(std::string(t.substr(at, len)));
    };
    const std::int64_t h = n(0, 2), m = n(3, 2), s = n(6, 2);
    if (h > 23 || m > 59 || s > 60) {
        return -1;
    }
    return ((h * 60 + m) * 60 + s) * 1000 + n(9, 3);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// The client code at the end of "Заявка: покупка Si-3.27 1 по 92000, клиент FZ00001.".
std::string AttemptClient(std::string_view text) {
    constexpr std::string_view kClient = ", клиент ";
    const std::size_t at = text.rfind(kClient);
    if (at == std::string_view::npos || text.empty() || text.back() != '.') {
        return {};
    }
    const std::string_view code =
        text.substr(at + kClient.size(), text.size() - 1 - at - kClient.size());
    return code.find(' ') == std::string_view::npos ? std::string(code) : std::string();
}

} // namespace

std::int64_t LocalMidnightMs(std::int64_t ms) {
    const std::tm t = LocalTm(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)));
    std::tm midnight{};
    midnight.tm_year = t.tm_year;
    midnight.tm_mon = t.tm_mon;
    midnight.tm_mday = t.tm_mday;
    midnight.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&midnight)) * 1000;
}

void ReadOrderLogText(std::string_view text, std::int64_t dayMs, TLoggedDay& day) {
    // Attempts whose outcome has not been read yet, oldest first: two threads' lines may
    // interleave, each writes its attempt before its outcome.
    std::deque<std::pair<std::int64_t, std::string>> attempts;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        const bool torn = end == std::string_view::npos;
        text.remove_prefix(torn ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        const std::size_t arrow = line.find(kArrow);
        const std::int64_t ofDay =
            arrow == std::string_view::npos || arrow < 13 || line[arrow - 13] != ' '
                ? -1
                : TimeOfDayMs(line.substr(arrow - 12, 12));
        // A line cut short says nothing for sure: its attempt, if any, stays without outcome.
        if (torn || ofDay < 0) {
            ++day.Damaged;
            continue;
        }
        const std::int64_t at = dayMs + ofDay;
        const std::string_view t = line.substr(arrow + kArrow.size());
        if (StartsWith(t, kAttempt)) {
            attempts.emplace_back(at, AttemptClient(t));
        } else if (StartsWith(t, kSent)) {
            std::string client;
            if (!attempts.empty()) {
                client = std::move(attempts.front().second);
                attempts.pop_front();
            }
            day.Posts.push_back({at, std::move(client)});
        } else if (StartsWith(t, kRefused) || StartsWith(t, kNotSent)) {
            if (!attempts.empty()) {
                attempts.pop_front();
            }
        } else if (StartsWith(t, kAnswer)) {
            if (const std::size_t no = t.find(kOrderNo); no != std::string_view::npos) {
                const std::string_view rest = t.substr(no + kOrderNo.size());
                const std::string_view id = rest.substr(0, rest.find('.'));
                if (Digits(id) && id.size() < 19) {
                    day.OrderIds.insert(std::stoll(std::string(id)));
                }
            }
        } else if (StartsWith(t, kHaltText)) {
            day.Halted = 1;
            day.HaltedAtMs = at;
        } else if (t == kRearmText) {
            day.Halted = 0;
            day.HaltedAtMs = at;
        }
    }
    // An attempt the file never tells the outcome of may have gone out.
    for (auto& [at, client] : attempts) {
        day.Posts.push_back({at, std::move(client)});
    }
}

} // namespace vorlen::orders
