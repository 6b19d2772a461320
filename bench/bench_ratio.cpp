#include "bench_ratio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>

namespace {

std::vector<BenchRatio>& Ratios() {
    static std::vector<BenchRatio> ratios;
    return ratios;
}

// Passes everything to the console and keeps each benchmark's CPU time per iteration: on a
// shared machine it moves less with the neighbours' load than the wall clock does.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                times[run.benchmark_name()] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

bool RegisterBenchRatio(const BenchRatio& ratio) {
    Ratios().push_back(ratio);
    return true;
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-60s %10s %8s  %s\n", "ratio of CPU times (measured / baseline)", "value",
                "target", "");
    for (const BenchRatio& ratio : Ratios()) {
        const auto measured = reporter.times.find(ratio.strMeasured);
        const auto baseline = reporter.times.find(ratio.strBaseline);
        if (measured == reporter.times.end() || baseline == reporter.times.end() ||
            baseline->second <= 0.0) {
            continue;
        }
        const double dRatio = measured->second / baseline->second;
        std::printf("%-60s %10.2f %8.1f  %s\n", (ratio.strMeasured + " / baseline").c_str(), dRatio,
                    ratio.dTarget, dRatio <= ratio.dTarget ? "met" : "MISSED");
    }
    return 0;
}
