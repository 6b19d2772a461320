// Benchmarks state their targets as ratios against a baseline measured in the same run.
// A benchmark file registers its pairs with MORV_BENCH_RATIO; the shared main runs every
// benchmark and then prints each ratio with its target.
#pragma once

#include <string>

struct BenchRatio {
    std::string strMeasured;  // benchmark name as Google Benchmark reports it
    std::string strBaseline;
    double dTarget;  // the measured time may be at most this multiple of the baseline
};

bool RegisterBenchRatio(const BenchRatio& ratio);

#define MORV_BENCH_CONCAT_(a, b) a##b
#define MORV_BENCH_CONCAT(a, b) MORV_BENCH_CONCAT_(a, b)
#define MORV_BENCH_RATIO(measured, baseline, target)               \
    static const bool MORV_BENCH_CONCAT(g_benchRatio_, __LINE__) = \
        RegisterBenchRatio(BenchRatio{measured, baseline, target})
