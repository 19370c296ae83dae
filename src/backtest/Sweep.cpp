#include "backtest/Sweep.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace vorlen::backtest {

std::optional<TSweepAxis> ParseSweepAxis(const std::string& text, std::string& error) {
    const std::size_t eq = text.find('=');
    if (eq == 0 || eq == std::string::npos || eq + 1 == text.size()) {
        error = "--sweep wants name=a,b,c, not \"" + text + "\"";
        return std::nullopt;
    }
    TSweepAxis axis{text.substr(0, eq), {}};
    std::size_t from = eq + 1;
    for (;;) {
        const std::size_t comma = text.find(',', from);
        axis.Values.push_back(text.substr(from, comma - from));
        if (axis.Values.back().empty()) {
            error = "--sweep " + axis.Name + ": an empty value";
            return std::nullopt;
        }
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    return axis;
}

std::vector<TSweepRun> RunSweep(const TBacktestConfig& base, const std::vector<TSweepAxis>& axes,
                                unsigned workers,
                                const std::function<void(std::size_t, std::size_t)>& done) {
    std::vector<TSweepRun> runs(1);
    for (const TSweepAxis& axis : axes) {
        std::vector<TSweepRun> grown;
        for (const TSweepRun& r : runs)
            for (const std::string& v : axis.Values) {
                grown.push_back(r);
                grown.back().Params.emplace_back(axis.Name, v);
            }
        runs.swap(grown);
    }
    if (workers == 0)
        workers = std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, runs.size()));

    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::size_t finished = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < runs.size(); i = next++) {
            TBacktestConfig config = base;
            config.Progress = nullptr;
            // A swept value stands in for the same parameter given on its own.
            std::erase_if(config.Params, [&](const TParamOverride& p) {
                return std::any_of(runs[i].Params.begin(), runs[i].Params.end(),
                                   [&](const TParamOverride& s) { return s.first == p.first; });
            });
            config.Params.insert(config.Params.end(), runs[i].Params.begin(), runs[i].Params.end());
            runs[i].Result = RunBacktest(config);
            runs[i].Net = Summarize(runs[i].Result).Net;
            std::lock_guard guard(lock);
            ++finished;
            if (done)
                done(finished, runs.size());
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w)
        threads.emplace_back(work);
    work();
    for (std::thread& t : threads)
        t.join();
    std::stable_sort(runs.begin(), runs.end(),
                     [](const TSweepRun& a, const TSweepRun& b) { return a.Net > b.Net; });
    return runs;
}

} // namespace vorlen::backtest
