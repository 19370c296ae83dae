// A recorded session played back at full speed through the simulator's router into the
// unchanged terminal (vorlen-console --replay --speed max), against the terminal's live capacity
// as bench_e2e measures it.
//
// The session is recorded first: the console with the whole market's streams against a router
// generating `rate` background events a second, for `seconds`. It is then replayed three times;
// each time the router is asked for its state every few milliseconds, from the moment market
// time starts moving to the moment it says "end". At full speed the router sends only as fast as
// the terminal takes (it stops above a few MiB of backlog), so the rate is the terminal's. The
// best of the three counts.
//
// After the last replay, seeks to a quarter, half and three quarters of the session are timed
// on the control channel (keyframes, then the records after the nearest one).
//
//   bench_replay [--seconds N] [--rate N] [--live-capacity N]
//       default: 20 s of recording at 20 000 events/s; the live capacity (messages a second the
//       terminal applied at the highest rate it sustained) is measured by running bench_e2e (a
//       minute or two) unless given. Prints, last, "replay_msgs_per_s: <n>" and
//       "replay_vs_live_capacity: <ratio>" (target: at least 0.9).

#include "../../tests/e2e/SimHarness.h"
#include "history/Reader.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace vorlen;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct TOptions {
    int Seconds = 20;
    int Rate = 20000;
    double LiveCapacity = 0;
};

TOptions Parse(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--seconds")
            o.Seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--rate")
            o.Rate = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--live-capacity")
            o.LiveCapacity = std::atof(argv[i + 1]);
    }
    return o;
}

// "time=HH:MM:SS.mmm" of a state line; empty without one.
std::string StateTime(const std::string& state) {
    const auto at = state.find(" time=");
    return at == std::string::npos ? std::string() : state.substr(at + 6, 12);
}

std::string TimeOfDay(std::int64_t ns) {
    const auto t = static_cast<std::time_t>(ns / 1'000'000'000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// The messages a second the terminal applied live at the highest router rate it sustained, from
// bench_e2e's report (its capacity is counted in the router's events, each of which makes a few
// messages); 0 when it gives none.
double LiveCapacity() {
    std::FILE* p = ::popen(VORLEN_BENCH_E2E " 2>/dev/null", "r");
    if (p == nullptr)
        return 0;
    std::map<double, double> applied; // router rate -> messages a second the terminal applied
    double sustained = 0;
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::fputs(line, stdout);
        double rate = 0, msgs = 0;
        if (std::sscanf(line, "terminal %lf/s: applied %lf/s", &rate, &msgs) == 2)
            applied[rate] = std::max(applied[rate], msgs);
        std::sscanf(line, "terminal_capacity_per_s: %lf", &sustained);
    }
    ::pclose(p);
    const auto it = applied.find(sustained);
    return it != applied.end() ? it->second : 0;
}

} // namespace

int main(int argc, char** argv) {
    const TOptions options = Parse(argc, argv);
    e2e::TSimInstall inst(options.Rate);
    const e2e::fs::path settings = e2e::WriteWholeMarketSettings(inst);
    const e2e::fs::path history = inst.Root / "hist";
    if (settings.empty()) {
        std::fprintf(stderr, "no whole-market settings\n");
        return 1;
    }
    {
        e2e::TConsoleRun run(inst, {"--settings", settings.string(), "--record", "--history",
                                    history.string(), "--seconds", "3600"});
        if (!run.WaitForJournal("Инструменты добавлены.")) {
            std::fprintf(stderr, "the recording run never came on-line\n%s", run.Stderr().c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::seconds(options.Seconds));
        run.Signal(SIGTERM);
        run.Wait(120s);
    }
    e2e::fs::path file;
    for (const auto& e : e2e::fs::directory_iterator(history))
        if (e.path().extension() == ".vrec")
            file = e.path();
    history::TRecordingReader reader;
    if (file.empty() || !reader.Open(file)) {
        std::fprintf(stderr, "no recording\n");
        return 1;
    }
    std::uint64_t records = 0, rows = 0;
    std::int64_t firstNs = 0, lastNs = 0;
    history::TRecordView r;
    while (reader.Next(r)) {
        firstNs = records++ == 0 ? r.TimeNs : firstNs;
        lastNs = r.TimeNs;
        rows += r.Kind == history::TRecordKind::StreamData ? 1 : 0;
    }
    std::printf("recorded_records: %llu\nrecorded_rows: %llu\n",
                static_cast<unsigned long long>(records), static_cast<unsigned long long>(rows));

    double best = 0;
    double seekMax = 0;
    for (int pass = 0; pass < 3; ++pass) {
        e2e::TConsoleRun run(inst, {"--settings", settings.string(), "--replay", file.string(),
                                    "--speed", "max", "--until-end", "--seconds", "3600"});
        std::string first;
        Clock::time_point started{}, ended{};
        const auto limit = Clock::now() + 600s;
        while (Clock::now() < limit) {
            const std::string state = inst.Control("replay state");
            const std::string time = StateTime(state);
            if (!time.empty() && first.empty())
                first = time;
            if (!time.empty() && time != first && started == Clock::time_point{})
                started = Clock::now();
            if (state.find(" state=end ") != std::string::npos) {
                ended = Clock::now();
                break;
            }
            std::this_thread::sleep_for(2ms);
        }
        if (started == Clock::time_point{} || ended <= started) {
            std::fprintf(stderr, "replay %d did not run to its end\n%s", pass,
                         run.Stderr().c_str());
            return 1;
        }
        const double s = std::chrono::duration<double>(ended - started).count();
        std::printf("replay_%d_s: %.3f\n", pass, s);
        best = std::max(best, static_cast<double>(rows) / s);
        if (pass == 2) {
            for (const double part : {0.25, 0.5, 0.75}) {
                const std::string at =
                    TimeOfDay(firstNs + static_cast<std::int64_t>(
                                            static_cast<double>(lastNs - firstNs) * part));
                const auto t0 = Clock::now();
                const std::string reply = inst.Control("replay seek " + at);
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                std::printf("seek_%s_ms: %.1f (%s)\n", at.c_str(), ms, reply.c_str());
                seekMax = std::max(seekMax, ms);
            }
        }
        run.Wait(120s);
    }
    const double live = options.LiveCapacity > 0 ? options.LiveCapacity : LiveCapacity();
    std::printf("seek_max_ms: %.1f\n", seekMax);
    std::printf("live_capacity_msgs_per_s: %.0f\n", live);
    std::printf("replay_msgs_per_s: %.0f\n", best);
    std::printf("replay_vs_live_capacity: %.2f\n", live > 0 ? best / live : 0.0);
    return 0;
}
