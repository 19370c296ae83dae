#pragma once

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace vorlen::bench {

// Keeps the fastest repetition of each benchmark, by function name, and every run in the order
// they ran, while printing as usual. CPU time, not wall time: the machines these run on are
// shared, and wall time then counts other programs too.
class TFastestRunReporter : public benchmark::ConsoleReporter {
public:
    TFastestRunReporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.run_name.function_name;
            const double t = run.GetAdjustedCPUTime();
            if (!Times.contains(name) || t < Times[name])
                Times[name] = t;
            All[name].push_back(t);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
    std::map<std::string, std::vector<double>> All;
};

} // namespace vorlen::bench
