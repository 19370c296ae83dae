// P2MQRouter64.exe /ini:PATH — the offline exchange's router. PATH names the router's ini file
// or a directory holding client_router.ini; it may be quoted and may contain blanks.

#include "../common/Ini.h"
#include "../common/Text.h"
#include "Exchange.h"
#include "Os.h"
#include "Server.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string IniArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const std::string lower = vsim::Lower(a.substr(0, 5));
        if (lower != "/ini:" && lower != "-ini:") {
            continue;
        }
        std::string path = a.substr(5);
        // An unquoted path with blanks arrives in pieces.
        for (int j = i + 1; j < argc; ++j) {
            path += " ";
            path += argv[j];
        }
        std::string out;
        for (char c : path) {
            if (c != '"') {
                out += c;
            }
        }
        return std::string(vsim::Trim(out));
    }
    return "client_router.ini";
}

} // namespace

int main(int argc, char** argv) {
    std::string iniPath = IniArgument(argc, argv);
    std::error_code ec;
    if (fs::is_directory(iniPath, ec)) {
        iniPath = (fs::path(iniPath) / "client_router.ini").string();
    }
    std::string text;
    if (!vsim::ReadTextFile(iniPath, text)) {
        std::fprintf(stderr, "P2MQRouter64: cannot read %s\n", iniPath.c_str());
        return 2;
    }
    const fs::path dir = fs::absolute(fs::path(iniPath), ec).parent_path();
    const vsim::IniFile ini = vsim::ParseIni(text);
    const vsim::IniSection empty;
    const vsim::IniSection* sec = ini.Section("router");
    if (sec == nullptr) {
        sec = &empty;
    }
    std::int64_t port = 4001;
    std::int64_t control = 4002;
    std::int64_t seed = 20261218;
    std::int64_t rate = 200;
    vsim::ParseInt(sec->Get("port", "4001"), port);
    vsim::ParseInt(sec->Get("control_port", "4002"), control);
    vsim::ParseInt(sec->Get("seed", "20261218"), seed);
    vsim::ServerConfig config;
    config.host = sec->Get("host", "127.0.0.1");
    config.port = static_cast<std::uint16_t>(port);
    config.controlPort = static_cast<std::uint16_t>(control);
    const std::string rateText = sec->Get("rate", "200");
    if (vsim::Lower(rateText) == "max") {
        config.rate = -1;
    } else if (vsim::ParseInt(rateText, rate)) {
        config.rate = static_cast<double>(rate);
    }
    config.portsFile = (dir / sec->Get("ports_file", "router.ports")).string();
    const std::string withholdText = vsim::Lower(sec->Get("withhold", "off"));
    std::int64_t withhold = 0;
    if (withholdText == "all") {
        config.withhold = -1;
    } else if (vsim::ParseInt(withholdText, withhold) && withhold > 0) {
        config.withhold = static_cast<long>(withhold);
    }
    config.replay = sec->Get("replay", "");
    if (!config.replay.empty() && fs::path(config.replay).is_relative()) {
        config.replay = (dir / config.replay).string();
    }
    config.replaySpeed = sec->Get("replay_speed", "1");
    config.replayFill = sec->Get("replay_fill", "touch");
    std::int64_t logRows = static_cast<std::int64_t>(vsim::kDefaultLogRows);
    if (!vsim::ParseInt(sec->Get("log_rows", std::to_string(logRows)), logRows) || logRows < 0) {
        logRows = static_cast<std::int64_t>(vsim::kDefaultLogRows);
    }

    vsim::Log log((dir / sec->Get("log", "router.log")).string());
    log.Line("P2MQRouter64 (offline exchange) starting with %s", iniPath.c_str());
    if (!vsim::net::Init()) {
        log.Line("sockets unavailable");
        return 3;
    }
    vsim::Exchange exchange(static_cast<std::uint64_t>(seed));
    exchange.market().SetLogRows(static_cast<std::size_t>(logRows));
    exchange.Seed();
    // How the trader's resting orders fill: by the crossing rule unless a backtest's model is
    // named, so that a recording of the day backtests alike.
    if (const std::string model = vsim::Lower(sec->Get("fill_model", "")); !model.empty()) {
        const auto parsed = vorlen::fills::ParseFillModel(model);
        if (!parsed) {
            std::fprintf(stderr, "P2MQRouter64: fill_model wants touch, through or queue, not %s\n",
                         model.c_str());
            return 2;
        }
        exchange.SetFillModel(*parsed);
        log.Line("resting orders fill by the %s model", model.c_str());
    }
    vsim::Server server(config, exchange, log);
    if (!server.Start()) {
        std::fprintf(stderr, "P2MQRouter64: cannot listen on port %u\n", config.port);
        return 4;
    }
    std::atomic<bool> stop{false};
    vsim::InstallStopHandler(&stop);
    server.Run(stop);
    return 0;
}
