// The control channel: one command a line, one reply a line, "OK ..." or "ERR ...". Tests and
// benchmarks use it to provoke what a real exchange does rarely: dropped connections, refused
// connections, new life numbers, deleted-row clears, late or missing replies, and an exchange
// that goes silent (frozen: no data, no heartbeats, no replies) while its connections stay up.

#include "../common/Text.h"
#include "Server.h"

#include <cmath>
#include <cstdlib>

namespace vsim {

namespace {

const char* const kHelp =
    "OK commands: ping | drop | refuse MS | lifenum STREAM [N] | cleardeleted STREAM TABLE [REV] "
    "| delete STREAM TABLE ID | rows STREAM TABLE | sysmsg LANG TEXT | replstate STREAM TEXT | "
    "delay MS | withhold N|all|off | rate N|max | freeze | resume | "
    "fill now|off|on|touch|through|queue | "
    "move ISIN_ID TICKS | smile ISIN_ID SHIFT | rest ISIN_ID N | replay open FILE|FOLDER DATE | "
    "replay speed 1|2|5|10|50|100|1000|max | replay pause|play|step|state | "
    "replay seek HH:MM:SS | replay fill touch|through|queue | counters | quit";

} // namespace

std::string Server::Counters() {
    const MarketCounters& m = exchange_.market().Counters();
    const ExchangeCounters& e = exchange_.Counters();
    std::size_t subs = 0;
    for (Stream& s : exchange_.market().Streams()) {
        subs += s.subs.size();
    }
    return "OK clients=" + std::to_string(clients_.size()) +
           " connections=" + std::to_string(connections_) +
           " subscriptions=" + std::to_string(subs) + " snapshots=" + std::to_string(m.snapshots) +
           " rows=" + std::to_string(m.rows) + " frames=" + std::to_string(m.frames) +
           " bytes=" + std::to_string(bytesSent_) + " events=" + std::to_string(e.events) +
           " posts=" + std::to_string(e.posts) + " accepted=" + std::to_string(e.accepted) +
           " rejected=" + std::to_string(e.rejected) + " fills=" + std::to_string(e.fills) +
           " withheld=" + std::to_string(withheld_) +
           " resting=" + std::to_string(exchange_.RestingCount());
}

std::string Server::Command(std::string_view line) {
    const auto words = SplitWords(Trim(line));
    if (words.empty()) {
        return "ERR empty command";
    }
    const std::string cmd = Lower(words[0]);
    log_.Line("control: %.*s", static_cast<int>(line.size()), line.data());
    std::int64_t n = 0;
    Market& market = exchange_.market();
    auto stream = [&](std::size_t i) -> Stream* {
        return words.size() > i ? market.Find(words[i]) : nullptr;
    };
    auto table = [&](Stream* s, std::size_t i) -> int {
        return s != nullptr && words.size() > i ? Market::TableIndex(*s, words[i]) : -1;
    };

    if (cmd == "ping") {
        return "OK pong";
    }
    if (cmd == "help") {
        return kHelp;
    }
    if (cmd == "drop") {
        std::size_t count = 0;
        for (auto& c : clients_) {
            count += c->dead ? 0 : 1;
            c->dead = true;
        }
        return "OK dropped " + std::to_string(count);
    }
    if (cmd == "refuse") {
        if (words.size() != 2 || !ParseInt(words[1], n) || n < 0) {
            return "ERR usage: refuse MS";
        }
        refuseUntil_ = Clock::now() + std::chrono::milliseconds(n);
        return "OK refusing " + std::to_string(n);
    }
    if (cmd == "lifenum") {
        Stream* s = stream(1);
        if (s == nullptr) {
            return "ERR unknown stream";
        }
        std::int64_t life = s->life + 1;
        if (words.size() > 2 && (!ParseInt(words[2], life) || life <= 0 || life > 0xFFFFFFFF)) {
            return "ERR bad life number";
        }
        market.SetLife(*s, static_cast<std::uint32_t>(life));
        return "OK lifenum " + s->def->name + " " + std::to_string(life);
    }
    if (cmd == "cleardeleted" || cmd == "delete" || cmd == "rows") {
        Stream* s = stream(1);
        const int t = table(s, 2);
        if (t < 0) {
            return "ERR unknown stream or table";
        }
        Table& tab = s->tables[static_cast<std::size_t>(t)];
        if (cmd == "rows") {
            return "OK rows=" + std::to_string(tab.rows.size()) + " rev=" + std::to_string(s->rev);
        }
        if (cmd == "delete") {
            if (words.size() != 4 || !ParseInt(words[3], n)) {
                return "ERR usage: delete STREAM TABLE ID";
            }
            return market.Delete(*s, t, n) ? "OK deleted" : "ERR no such row";
        }
        std::int64_t rev = s->rev + 1;
        if (words.size() > 3 && !ParseInt(words[3], rev)) {
            return "ERR bad revision";
        }
        market.ClearDeleted(*s, t, rev);
        return "OK cleardeleted " + s->def->name + " " + tab.def->name + " " + std::to_string(rev);
    }
    if (cmd == "sysmsg") {
        if (words.size() < 3) {
            return "ERR usage: sysmsg LANG TEXT";
        }
        const std::int64_t id = exchange_.SystemMessage(words[1], AfterWords(line, 2), LocalNow());
        return "OK sysmsg " + std::to_string(id);
    }
    if (cmd == "replstate") {
        Stream* s = stream(1);
        if (s == nullptr || words.size() < 3) {
            return "ERR usage: replstate STREAM TEXT";
        }
        market.ReplState(*s, AfterWords(line, 2));
        return "OK replstate";
    }
    if (cmd == "delay") {
        if (words.size() != 2 || !ParseInt(words[1], n) || n < 0) {
            return "ERR usage: delay MS";
        }
        delayMs_ = static_cast<int>(n);
        return "OK delay " + std::to_string(n);
    }
    if (cmd == "withhold") {
        if (words.size() == 2 && Lower(words[1]) == "all") {
            withhold_ = -1;
        } else if (words.size() == 2 && Lower(words[1]) == "off") {
            withhold_ = 0;
        } else if (words.size() == 2 && ParseInt(words[1], n) && n >= 0) {
            withhold_ = static_cast<long>(n);
        } else {
            return "ERR usage: withhold N|all|off";
        }
        return "OK withhold " + std::to_string(withhold_);
    }
    if (cmd == "rate") {
        if (words.size() == 2 && Lower(words[1]) == "max") {
            config_.rate = -1;
            return "OK rate max";
        }
        if (words.size() != 2 || !ParseInt(words[1], n) || n < 0) {
            return "ERR usage: rate N|max";
        }
        config_.rate = static_cast<double>(n);
        owed_ = 0;
        return "OK rate " + std::to_string(n);
    }
    if (cmd == "freeze" || cmd == "resume") {
        frozen_ = cmd == "freeze";
        return "OK " + cmd;
    }
    if (cmd == "fill") {
        const std::string mode = words.size() == 2 ? Lower(words[1]) : std::string();
        if (mode == "now") {
            return "OK filled " + std::to_string(exchange_.FillAllResting());
        }
        if (mode == "off" || mode == "on") {
            exchange_.SetFillResting(mode == "on");
            return "OK fill " + mode + " resting=" + std::to_string(exchange_.RestingCount());
        }
        if (const auto model = vorlen::fills::ParseFillModel(mode)) {
            exchange_.SetFillModel(*model);
            return "OK fill " + mode + " resting=" + std::to_string(exchange_.RestingCount());
        }
        return "ERR usage: fill now|off|on|touch|through|queue";
    }
    if (cmd == "move") {
        std::int64_t ticks = 0;
        if (words.size() != 3 || !ParseInt(words[1], n) || !ParseInt(words[2], ticks) ||
            ticks < -1000 || ticks > 1000) {
            return "ERR usage: move ISIN_ID TICKS";
        }
        if (!exchange_.Move(static_cast<std::int32_t>(n), static_cast<int>(ticks))) {
            return "ERR no futures " + std::to_string(n) + " or the move reaches its price limits";
        }
        return "OK move " + std::to_string(n) + " " + std::to_string(ticks);
    }
    if (cmd == "smile") {
        // SHIFT in volatility points, e.g. "smile 2070001 2.5".
        const std::string text = words.size() == 3 ? std::string(words[2]) : std::string();
        char* end = nullptr;
        const double shift = std::strtod(text.c_str(), &end);
        if (words.size() != 3 || !ParseInt(words[1], n) || text.empty() || *end != '\0' ||
            !std::isfinite(shift)) {
            return "ERR usage: smile ISIN_ID SHIFT";
        }
        if (!exchange_.ShiftSmile(static_cast<std::int32_t>(n), shift)) {
            return "ERR no options on " + std::to_string(n) + " or the smile would fall under 1 %";
        }
        return "OK smile " + std::to_string(n) + " " + text;
    }
    if (cmd == "rest") {
        std::int64_t count = 0;
        if (words.size() != 3 || !ParseInt(words[1], n) || !ParseInt(words[2], count) ||
            count < 0 || count > 100'000) {
            return "ERR usage: rest ISIN_ID N";
        }
        if (!exchange_.RestOrders(static_cast<std::int32_t>(n), static_cast<std::size_t>(count))) {
            return "ERR no instrument " + std::to_string(n);
        }
        return "OK rest " + std::to_string(count) +
               " resting=" + std::to_string(exchange_.RestingCount());
    }
    if (cmd == "replay") {
        return ReplayCommand(words, line);
    }
    if (cmd == "counters" || cmd == "stats") {
        return Counters();
    }
    if (cmd == "quit") {
        quit_ = true;
        return "OK bye";
    }
    return "ERR unknown command " + cmd;
}

} // namespace vsim
