#include "main/console/ConsoleOptions.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace vorlen {

namespace {

bool ReadSeconds(const std::string& text, int& out) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, out);
    // A day is far beyond any sensible run and keeps the deadline arithmetic well inside range.
    return !text.empty() && ec == std::errc{} && end == last && out > 0 && out <= 86400;
}

} // namespace

std::optional<int> ParseTimeOfDay(const std::string& text) {
    int part[3] = {};
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        const char* first = text.data() + std::ptrdiff_t{3} * i;
        const auto [end, ec] = std::from_chars(first, first + 2, part[i]);
        if (ec != std::errc{} || end != first + 2)
            return std::nullopt;
    }
    if (part[0] > 23 || part[1] > 59 || part[2] > 59)
        return std::nullopt;
    return part[0] * 3600 + part[1] * 60 + part[2];
}

std::optional<TBacktestBound> ParseBacktestBound(const std::string& text) {
    const auto number = [&](std::size_t at, std::size_t width, int& out) {
        const char* first = text.data() + at;
        const auto [end, ec] = std::from_chars(first, first + width, out);
        return ec == std::errc{} && end == first + width;
    };
    int a = 0, b = 0, c = 0;
    if (text.size() == 5 && text[2] == ':' && number(0, 2, a) && number(3, 2, b) && a <= 23 &&
        b <= 59)
        return TBacktestBound{a * 60 + b, {}};
    if (text.size() == 10 && text[4] == '-' && text[7] == '-' && number(0, 4, a) &&
        number(5, 2, b) && number(8, 2, c) && b >= 1 && b <= 12 && c >= 1 && c <= 31)
        return TBacktestBound{std::nullopt, text};
    return std::nullopt;
}

namespace {

// Why a price's text is not a price, in the words of the console's other complaints.
std::string PriceProblem(const std::string& text) {
    std::size_t i = text.find_first_not_of("+-") == 1 ? 1 : 0;
    const std::size_t sep = text.find_first_of(".,", i);
    const auto digits = [&](std::size_t from, std::size_t to) {
        return from < to && text.find_first_not_of("0123456789", from) >= to;
    };
    const std::size_t end = text.size();
    const bool decimal =
        sep == std::string::npos ? digits(i, end) : digits(i, sep) && digits(sep + 1, end);
    if (!decimal) {
        return "is not a decimal number (digits, then a point or comma and up to five places)";
    }
    if (sep != std::string::npos && end - sep - 1 > 5) {
        return "has more than five decimals, finer than any price the exchange takes";
    }
    return "is beyond any price the exchange takes";
}

} // namespace

std::optional<orders::TOrderRequest> ParseOrderLine(const std::string& line, std::string& error) {
    std::istringstream in(line);
    std::string side, isin, qty, price, client, extra;
    in >> side >> isin >> qty >> price >> client >> extra;
    orders::TOrderRequest r;
    long long q = 0;
    const char* qEnd = qty.data() + qty.size();
    const auto [end, ec] = std::from_chars(qty.data(), qEnd, q);
    if ((side != "buy" && side != "sell") || client.empty() || !extra.empty()) {
        error = "--order wants \"buy|sell ISIN QTY PRICE CLIENT\", not \"" + line + "\"";
        return std::nullopt;
    }
    if (ec != std::errc{} || end != qEnd) {
        error = "--order: the quantity \"" + qty + "\" is not a whole number of lots" +
                (ec == std::errc::result_out_of_range ? " that any order can carry" : "");
        return std::nullopt;
    }
    const auto p = orders::ParsePrice(price);
    if (!p) {
        error = "--order: the price \"" + price + "\" " + PriceProblem(price);
        return std::nullopt;
    }
    r.Side = side == "buy" ? orders::TSide::Buy : orders::TSide::Sell;
    r.Isin = isin;
    r.Qty = q;
    r.Price = *p;
    r.Client = client;
    return r;
}

bool ParseConsoleOptions(const std::vector<std::string>& args, TConsoleOptions& out,
                         std::string& error) {
    out = TConsoleOptions{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "--name=value" and "--name value" both work.
        std::string name = a;
        std::optional<std::string> value;
        if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        }
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (value) {
                return value;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            error = name + " needs a value";
            return std::nullopt;
        };
        if (name == "--help" || name == "-h") {
            out.Help = true;
        } else if (name == "--until-online" && !value) {
            out.UntilOnline = true;
        } else if (name == "--cancel-all" && !value) {
            out.CancelAll = true;
        } else if (name == "--record" && !value) {
            out.Record = true;
        } else if (name == "--until-end" && !value) {
            out.UntilEnd = true;
        } else if (name == "--speed") {
            const auto v = takeValue();
            if (!v)
                return false;
            if (*v != "1" && *v != "2" && *v != "5" && *v != "10" && *v != "50" && *v != "100" &&
                *v != "1000" && *v != "max") {
                error = "--speed wants 1, 2, 5, 10, 50, 100, 1000 or max, not \"" + *v + "\"";
                return false;
            }
            out.Speed = *v;
        } else if (name == "--rebuild-history" && !value) {
            out.RebuildHistory = true;
        } else if (name == "--backtest" || name == "--report" || name == "--fill" ||
                   name == "--sweep") {
            const auto v = takeValue();
            if (!v)
                return false;
            if (v->empty()) {
                error = name + " needs a non-empty value";
                return false;
            }
            if (name == "--fill" && *v != "touch" && *v != "through" && *v != "queue") {
                error = "--fill wants touch, through or queue, not \"" + *v + "\"";
                return false;
            }
            if (name == "--sweep") {
                const std::size_t eq = v->find('=');
                if (eq == 0 || eq == std::string::npos || eq + 1 == v->size()) {
                    error = "--sweep wants name=a,b,c, not \"" + *v + "\"";
                    return false;
                }
                out.Sweeps.push_back(*v);
            } else {
                (name == "--backtest" ? out.BacktestPath
                 : name == "--report" ? out.ReportDir
                                      : out.FillModel) = *v;
            }
        } else if (name == "--latency" || name == "--workers" || name == "--tr-max") {
            const auto v = takeValue();
            if (!v)
                return false;
            int n = -1;
            try {
                std::size_t used = 0;
                n = std::stoi(*v, &used);
                if (used != v->size())
                    n = -1;
            } catch (const std::exception&) {
                n = -1;
            }
            const int most = name == "--latency" ? 60'000 : name == "--workers" ? 256 : 100'000;
            if (n < (name == "--workers" ? 1 : 0) || n > most) {
                error = name + " wants a whole number up to " + std::to_string(most) + ", not \"" +
                        *v + "\"";
                return false;
            }
            if (name == "--latency")
                out.LatencyMs = n;
            else if (name == "--workers")
                out.Workers = static_cast<unsigned>(n);
            else
                out.TrMax = n;
        } else if (name == "--fee") {
            const auto v = takeValue();
            if (!v)
                return false;
            std::string text = *v;
            std::replace(text.begin(), text.end(), ',', '.');
            double fee = -1;
            try {
                std::size_t used = 0;
                fee = std::stod(text, &used);
                if (used != text.size())
                    fee = -1;
            } catch (const std::exception&) {
                fee = -1;
            }
            if (!(fee >= 0 && fee < 1e9)) {
                error = "--fee wants money per lot, not \"" + *v + "\"";
                return false;
            }
            out.FeePerLot = fee;
        } else if (name == "--order" || name == "--risk") {
            const auto v = takeValue();
            if (!v) {
                return false;
            }
            if (name == "--risk") {
                out.RiskFile = *v;
            } else if (!ParseOrderLine(*v, error)) {
                return false;
            } else {
                out.Orders.push_back(*v);
            }
        } else if (name == "--seconds") {
            const auto v = takeValue();
            int seconds = 0;
            if (!v) {
                return false;
            }
            if (!ReadSeconds(*v, seconds)) {
                error = "--seconds wants a whole number from 1 to 86400, not \"" + *v + "\"";
                return false;
            }
            out.Seconds = seconds;
        } else if (name == "--options") {
            const auto v = takeValue();
            if (!v)
                return false;
            if (v->empty()) {
                error = "--options needs a non-empty value";
                return false;
            }
            out.OptionsIsin = *v;
        } else if (name == "--book") {
            const auto v = takeValue();
            if (!v)
                return false;
            if (v->empty()) {
                error = "--book needs a non-empty value";
                return false;
            }
            out.BookIsins.push_back(*v);
        } else if (name == "--at") {
            const auto v = takeValue();
            if (!v)
                return false;
            if (!ParseTimeOfDay(*v)) {
                error = "--at wants a time of day HH:MM:SS, not \"" + *v + "\"";
                return false;
            }
            out.AtTime = *v;
        } else if (name == "--dump" || name == "--settings" || name == "--expert" ||
                   name == "--data-dir" || name == "--history" || name == "--replay-file" ||
                   name == "--replay" || name == "--candles" || name == "--from" ||
                   name == "--to" || name == "--out") {
            const auto v = takeValue();
            if (!v) {
                return false;
            }
            if (v->empty()) {
                error = name + " needs a non-empty value";
                return false;
            }
            (name == "--dump"          ? out.DumpDir
             : name == "--settings"    ? out.SettingsFile
             : name == "--data-dir"    ? out.DataDir
             : name == "--history"     ? out.HistoryDir
             : name == "--replay-file" ? out.ReplayFile
             : name == "--replay"      ? out.Replay
             : name == "--candles"     ? out.CandlesIsin
             : name == "--from"        ? out.From
             : name == "--to"          ? out.To
             : name == "--out"         ? out.OutFile
                                       : out.ExpertIsin) = *v;
        } else if (name == "--interval") {
            const auto v = takeValue();
            if (!v)
                return false;
            if (*v != "tick" && *v != "1m" && *v != "5m" && *v != "15m" && *v != "1h" &&
                *v != "1d") {
                error = "--interval wants tick, 1m, 5m, 15m, 1h or 1d, not \"" + *v + "\"";
                return false;
            }
            out.Interval = *v;
        } else if (name == "--strategy" || name == "--param") {
            const auto v = takeValue();
            if (!v) {
                return false;
            }
            const std::size_t eq = v->find('=');
            if (v->empty() || (name == "--param" && (eq == 0 || eq == std::string::npos))) {
                error = name == "--param" ? name + " wants name=value, not \"" + *v + "\""
                                          : name + " needs a non-empty value";
                return false;
            }
            if (name == "--param") {
                out.StrategyParams.push_back(*v);
            } else {
                out.StrategyFile = *v;
            }
        } else {
            error = "unknown argument \"" + a + "\"";
            return false;
        }
    }
    if (!out.StrategyFile.empty() && out.ExpertIsin.empty()) {
        error = "--strategy needs --expert";
        return false;
    }
    if (!out.StrategyParams.empty() && out.StrategyFile.empty()) {
        error = "--param needs --strategy";
        return false;
    }
    if (!out.HistoryDir.empty() && !out.Record && out.CandlesIsin.empty() && !out.RebuildHistory) {
        error = "--history needs --record, --candles or --rebuild-history";
        return false;
    }
    if (out.RebuildHistory &&
        (out.Record || out.Seconds || out.UntilOnline || !out.ExpertIsin.empty() ||
         !out.Orders.empty() || out.CancelAll || !out.BookIsins.empty() || !out.DumpDir.empty() ||
         !out.ReplayFile.empty() || !out.CandlesIsin.empty() || !out.StrategyFile.empty())) {
        error = "--rebuild-history takes only --history, --settings and --data-dir";
        return false;
    }
    if (!out.BacktestPath.empty()) {
        if (out.StrategyFile.empty() || out.ReportDir.empty()) {
            error = "--backtest needs --expert, --strategy and --report";
            return false;
        }
        if (out.Record || out.Seconds || out.UntilOnline || !out.Orders.empty() || out.CancelAll ||
            !out.BookIsins.empty() || !out.DumpDir.empty() || !out.ReplayFile.empty() ||
            !out.CandlesIsin.empty() || !out.Interval.empty() || !out.OutFile.empty() ||
            !out.OptionsIsin.empty() || out.RebuildHistory) {
            error = "--backtest connects nowhere: it takes only --expert, --strategy, --param, "
                    "--fill, --latency, --fee, --from, --to, --sweep, --workers, --tr-max, "
                    "--risk, --report, --settings and --data-dir";
            return false;
        }
        for (const std::string* t : {&out.From, &out.To}) {
            if (!t->empty() && !ParseBacktestBound(*t)) {
                error =
                    "--from and --to of a backtest want HH:MM or YYYY-MM-DD, not \"" + *t + "\"";
                return false;
            }
        }
    } else if (!out.ReportDir.empty() || !out.FillModel.empty() || out.LatencyMs != 0 ||
               out.FeePerLot || !out.Sweeps.empty() || out.Workers != 0 || out.TrMax) {
        error = "--report, --fill, --latency, --fee, --sweep, --workers and --tr-max need "
                "--backtest";
        return false;
    }
    if (out.CandlesIsin.empty() && out.BacktestPath.empty() &&
        (!out.Interval.empty() || !out.From.empty() || !out.To.empty() || !out.OutFile.empty())) {
        error = "--interval, --from, --to and --out need --candles";
        return false;
    }
    if (!out.CandlesIsin.empty()) {
        // Candles are read from the database alone: nothing connects.
        if (out.OutFile.empty()) {
            error = "--candles needs --out";
            return false;
        }
        if (out.Record || out.Seconds || out.UntilOnline || !out.ExpertIsin.empty() ||
            !out.Orders.empty() || out.CancelAll || !out.BookIsins.empty() ||
            !out.DumpDir.empty() || !out.ReplayFile.empty()) {
            error = "--candles takes only --interval, --from, --to, --out, --history, "
                    "--settings and --data-dir";
            return false;
        }
    }
    if (!out.OptionsIsin.empty() &&
        (out.DumpDir.empty() || !out.ReplayFile.empty() || !out.CandlesIsin.empty())) {
        error = "--options needs --dump and a connection";
        return false;
    }
    if ((!out.Speed.empty() || out.UntilEnd) && out.Replay.empty()) {
        error = "--speed and --until-end need --replay";
        return false;
    }
    if (!out.Replay.empty() &&
        (!out.ReplayFile.empty() || out.RebuildHistory || !out.CandlesIsin.empty())) {
        error = "--replay plays through the router; it takes no --replay-file, --candles or "
                "--rebuild-history";
        return false;
    }
    if (!out.AtTime.empty() && out.ReplayFile.empty()) {
        error = "--at needs --replay-file";
        return false;
    }
    if (!out.ReplayFile.empty()) {
        // A replay connects nowhere: whatever needs the exchange has no place in it.
        if (out.DumpDir.empty()) {
            error = "--replay-file needs --dump";
            return false;
        }
        if (out.Record || out.Seconds || out.UntilOnline || !out.ExpertIsin.empty() ||
            !out.Orders.empty() || out.CancelAll || !out.BookIsins.empty()) {
            error = "--replay-file takes only --dump, --at, --settings and --data-dir";
            return false;
        }
    }
    return true;
}

std::string ConsoleUsage() {
    return "Usage: vorlen-console [--settings FILE] [--seconds N] [--until-online] [--dump DIR]\n"
           "                     [--expert ISIN [--strategy FILE [--param NAME=VALUE]...]]\n"
           "                     [--order \"buy|sell ISIN QTY PRICE CLIENT\"]... [--cancel-all]\n"
           "                     [--risk FILE] [--data-dir DIR]\n"
           "                     [--book ISIN]... [--options FUTURES] [--record [--history DIR]]\n"
           "       vorlen-console --replay FILE [--speed S] [--until-end] [any of the above]\n"
           "       vorlen-console --replay-file FILE [--at HH:MM:SS] --dump DIR [--settings FILE]\n"
           "       vorlen-console --candles ISIN [--interval I] [--from T] [--to T]\n"
           "                      [--history DIR] --out FILE\n"
           "       vorlen-console --rebuild-history [--history DIR]\n"
           "       vorlen-console --backtest FILE|FOLDER --expert ISIN --strategy FILE\n"
           "                      [--param NAME=VALUE]... [--fill touch|through|queue]\n"
           "                      [--latency MS] [--fee MONEY] [--from T] [--to T]\n"
           "                      [--sweep NAME=A,B,C]... [--workers N] [--tr-max N]\n"
           "                      [--risk FILE] --report DIR\n"
           "\n"
           "Runs the terminal without windows: applies the settings (the dialog's defaults, or\n"
           "a saved-settings FILE), finds the gateway installation through the registry, starts\n"
           "the router unless its service runs, loads the gateway, connects, and writes the\n"
           "journal to standard output. Message boxes go to standard error.\n"
           "\n"
           "  --settings FILE  a .sav file saved by the settings dialog\n"
           "  --seconds N      stop N seconds after connecting began (default: run until\n"
           "                   SIGINT or SIGTERM)\n"
           "  --until-online   stop as soon as the instrument lists are built; without\n"
           "                   --seconds, give up (exit 3) once the router is reported\n"
           "                   unreachable and no router this run started is still starting\n"
           "  --dump DIR       at the end, write DIR/instruments.tsv (columns list, id, isin,\n"
           "                   short_isin, name; lists futures, options, spot; for spot the\n"
           "                   id is bond_id and isin is small_name) and DIR/<table>.tsv for\n"
           "                   each key table (first line: field names; then one row per\n"
           "                   line in arrival order; \\\\, \\t, \\n and \\r escape those\n"
           "                   characters inside values), and DIR/grid_<name>.tsv for each\n"
           "                   of the six grids (grid_acc, grid_orders, grid_ml_orders,\n"
           "                   grid_deals, grid_ml_deals, grid_positions: the captions line,\n"
           "                   then the rows the grid shows; none when it shows none)\n"
           "  --expert ISIN    once connected, start one expert on the futures ISIN, chosen\n"
           "                   as the instrument chooser would; its journal lines go to\n"
           "                   standard output after its window caption and a blank\n"
           "  --strategy FILE  the expert runs the Lua strategy FILE (see docs/strategies.md);\n"
           "                   its orders are refused while the terminal has no risk gate\n"
           "  --param N=V      sets the strategy's parameter N (declared in its params table)\n"
           "  --order ORDER    once on-line, place the limit ORDER (repeatable; CLIENT as\n"
           "                   the account table shows it); every order passes the risk gate,\n"
           "                   and attempts, refusals and replies are journal lines, also kept\n"
           "                   in orders_YYYY-MM-DD.log in the data folder; an order that\n"
           "                   cannot be sent because the terminal never came on-line is\n"
           "                   reported as such\n"
           "  --cancel-all     once the orders have their replies: cancel every own active\n"
           "                   order and stop trading (the kill switch)\n"
           "  --risk FILE      the risk limits (default: risk_limits.txt in the data folder,\n"
           "                   else the built-in limits); a file that does not read whole\n"
           "                   ends the run with its line and what is wrong there\n"
           "  --data-dir DIR   the data folder: the limits file and the day's order log\n"
           "                   (default: $VORLEN_DATA_DIR, else the user's data folder;\n"
           "                   the limits file and the day's log found in the folder of the\n"
           "                   --settings file, else in \"saving\" beside the program, are\n"
           "                   copied there once)\n"
           "  --book ISIN      (repeatable) once connected, check that a futures or option\n"
           "                   ISIN is listed; with --dump, also write DIR/book_ISIN.tsv (side,\n"
           "                   price, volume, own resting volume; asks from the highest down,\n"
           "                   then bids from the best down) and DIR/position_ISIN.tsv\n"
           "                   (client_code, pos, waprice, mark, open_pnl, vm)\n"
           "  --options FUTURES  with --dump, write DIR/options_FUTURES.tsv (one line per\n"
           "                   option series of the futures: isin, strike, type C/P, expiry,\n"
           "                   years, underlying, bid, ask, iv_bid, iv_ask, iv_mid in per\n"
           "                   cent, empty where the price has none, delta, gamma, vega per\n"
           "                   volatility point, theta per day, exchange_volat, position)\n"
           "                   and DIR/options_risk_FUTURES.tsv (the positions' summed greeks)\n"
           "  --record         record every message both connections receive into\n"
           "                   YYYY-MM-DD.vrec (the local date) in the history folder; with\n"
           "                   --dump, the market-data connection stops before the dump, so\n"
           "                   that the recording ends where the dump was taken\n"
           "  --history DIR    the history folder (default: \"history\" in the data folder\n"
           "                   when --data-dir or $VORLEN_DATA_DIR names one, else the\n"
           "                   user's: $XDG_DATA_HOME/vorlen/history, ~/.local/share/vorlen/\n"
           "                   history, or %LOCALAPPDATA%\\Vorlen\\history on Windows)\n"
           "  --replay FILE    have the bundled router play the recording FILE (a .vrec day\n"
           "                   file) to the terminal instead of its simulated market, with the\n"
           "                   recorded pacing (see docs/replay.md)\n"
           "  --speed S        the replay's speed: 1, 2, 5, 10, 50, 100, 1000 or max (default)\n"
           "  --until-end      stop once the recording has been played to its end and the\n"
           "                   terminal has taken it all (then --dump writes the tables)\n"
           "  --replay-file FILE  connect nowhere: rebuild the replica from the recording\n"
           "                   FILE as the market-data connection built it and write it as\n"
           "                   --dump does (instruments.tsv, the key tables and the grids);\n"
           "                   decimals are read through the gateway library of the\n"
           "                   installation (the router is neither started nor connected)\n"
           "  --at HH:MM:SS    replay only what arrived up to this local time on the\n"
           "                   recording's date (default: the whole recording)\n"
           "  --candles ISIN   connect nowhere: write the candles of ISIN (isin, short isin\n"
           "                   or isin_id) from history.db in the history folder to --out\n"
           "                   FILE.tsv: a header line, then time, open, high, low, close,\n"
           "                   volume; times are the candles' starts in Moscow time\n"
           "  --rebuild-history  connect nowhere: make history.db of the history folder\n"
           "                   again from its day files (*.vrec), into a new file that then\n"
           "                   replaces the old one; progress per file on standard error\n"
           "  --interval I     tick, 1m, 5m, 15m, 1h or 1d (a trading session); default 1m\n"
           "  --from \"YYYY-MM-DD HH:MM\", --to \"YYYY-MM-DD HH:MM\"  only candles starting\n"
           "                   in [from, to), Moscow time (default: all)\n"
           "\n"
           "Exit codes: 0 done; 1 bad arguments, strategy parameters or limits file; 2 an\n"
           "error box, no futures ISIN for --expert, an ISIN of --book that no list holds, a\n"
           "strategy that could not be read, loaded or started, or a recording or history.db\n"
           "that could not be read; 3 --until-online ran out of time or found no router; 4 the "
           "gateway environment "
           "did not\n"
           "open; 5 the dump could not be written, or an order or cancel was refused, failed\n"
           "or could not be sent; 128+N ended by signal N.\n"
           "\n"
           "On systems without a registry the installation is read from a registry export file:\n"
           "$VORLEN_REGISTRY, else ~/.config/vorlen/registry.reg, else /etc/vorlen/registry.reg.\n";
}

} // namespace vorlen
